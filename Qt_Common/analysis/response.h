// Response times after gas marks, as gas-detector tests define them: the time
// from the mark (the gas at the inlet changed at once) until the reading has
// covered a given share of its way from where it was to where it settles.
//
//   Gas on  -> a rise step: t50 and t90, the times to B + 0.5 (S - B) and B + 0.9 (S - B)
//   Gas off -> a fall step: t10, the time to S + 0.1 (P - S), with P = B the
//              plateau before the mark (it has then fallen to 10 % of the step)
//
// B, the baseline: the mean of the readings in the `baselineSeconds` before the
//   mark (not reaching back past the previous mark); when none lies there, the
//   last reading before the mark.
// S, the settled value: each reading after the mark gets the slope of a
//   least-squares line through the readings of the `slopeWindowSeconds` before
//   it. Once that slope has stayed within `slopeBand` (a share of the step per
//   second) for `holdSeconds`, the reading has settled; S is the mean of the
//   readings from then until the step ends (the next "Gas on"/"Gas off" mark, or
//   the end of the run). A step that never settles has no response time.
// Crossings: the first time the reading, smoothed by a local line over
//   `smoothSeconds` (0: as recorded), reaches the level, linear between samples
//   (the mark itself counts as a sample at B); then refined on the recorded
//   readings by a least-squares parabola over +-30 % of the time since the mark
//   (at least +-smoothSeconds / 2), so that noise neither hastens nor delays it.
#pragma once

#include <QList>
#include <QString>

#include <limits>
#include <vector>

#include "gasmarks.h"

struct ResponseSettings {
    double baselineSeconds = 10.0;
    double slopeWindowSeconds = 20.0;
    double slopeBand = 0.002;  // per second, as a share of the step (0.002 = 0.2 % of the step per second)
    double holdSeconds = 20.0;
    double smoothSeconds = 3.0;
};

struct ResponseTime {
    QString name;            // "t50", "t90", "t10"
    double share = 0;        // of the way from B to S: 0.5, 0.9
    double seconds = std::numeric_limits<double>::quiet_NaN();  // after the mark; NaN: none
};

struct StepResponse {
    enum Kind { Rise, Fall };
    // Why there is no response time.
    enum Problem { NoProblem, NoBaseline, NoReadings, NoChange, NotSettled, NotReached };

    Kind kind = Rise;
    GasMark mark;
    double endSeconds = std::numeric_limits<double>::quiet_NaN();  // run time where the step ends
    bool endsAtMark = false;  // at the next mark rather than at the end of the run
    double baseline = std::numeric_limits<double>::quiet_NaN();
    double settled = std::numeric_limits<double>::quiet_NaN();
    double settledFrom = std::numeric_limits<double>::quiet_NaN();  // run time the plateau begins
    QList<ResponseTime> times;
    Problem problem = NoProblem;
    QString reason;  // one line for a person; empty without a problem
    ResponseSettings settings;

    bool ok() const { return problem == NoProblem; }
    static const char* problemName(Problem problem);  // "not-settled", ...
};

// The steps of the readings (time, value) after each "Gas on" and "Gas off"
// mark; notes are passed over. Readings that are no number are left out; the
// times need not be sorted.
QList<StepResponse> analyseSteps(const std::vector<double>& seconds, const std::vector<float>& values,
                                 const QList<GasMark>& marks, const ResponseSettings& settings = ResponseSettings());
