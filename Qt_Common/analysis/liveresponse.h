// Response times of a run while it records. Readings and gas marks arrive one
// by one; each step is analysed over its own readings only (from its baseline
// window to its end), never the whole run: a step closed by a later mark once,
// the open step (the last mark to the newest reading) again when due. The
// results are those analyseSteps() gives for the readings so far.
#pragma once

#include <QList>
#include <QString>

#include <vector>

#include "response.h"

class LiveResponse {
public:
    explicit LiveResponse(const ResponseSettings& settings = ResponseSettings());

    // Forgets readings, marks and results (a new run).
    void clear();
    // Takes effect at the next update(), for every step.
    void setSettings(const ResponseSettings& settings);
    const ResponseSettings& settings() const { return set; }

    // A reading of the run (seconds since its start). Readings come in time
    // order; one that does not is put in its place. One after finish() means
    // the run went on: its last step is open again.
    void addReading(double seconds, float value);
    // A "Gas on" or "Gas off" mark; notes and marks without a time are passed over.
    void addMark(const GasMark& mark);
    // The run ended: its last step ends with its last reading and is analysed
    // at the next update() whatever the pace.
    void finish();
    bool finished() const { return ended; }

    // Analyses what is due: steps whose readings or end changed, and the open
    // step when the newest reading is at least max(1 s, 1 % of the step's
    // length) past its last analysis, so that a long step costs little per
    // cycle. True when any result changed.
    bool update();

    // One per gas mark, in time order.
    const QList<StepResponse>& steps() const { return results; }
    // The last step while the run still records: it has no end yet, so "not
    // settled" means "not yet".
    bool isOpen(int step) const { return !ended && step == results.size() - 1; }

    // A step in one line as the page shows it:
    //   "Gas on at 40.5 s: t50 3.5 s, t90 11.5 s"   "Gas off at 160.2 s: t10 12.1 s"
    //   "Gas on at 40.5 s: settling"                 "Gas off at 160.2 s: not settled"
    // and, without the mark's time, as the "All sensors" panel does: "Gas on: t50 3.5 s, t90 11.5 s".
    QString summary(int step, bool withTime = true) const;

    // The run's readings so far, in time order (full resolution).
    const std::vector<double>& seconds() const { return times; }
    const std::vector<float>& values() const { return readings; }

    // The open step is analysed again no sooner than this (run seconds) ...
    static constexpr double kMinInterval = 1.0;
    // ... nor than this share of its length.
    static constexpr double kIntervalShare = 0.01;

private:
    void analyse(int step);

    ResponseSettings set;
    std::vector<double> times;
    std::vector<float> readings;
    QList<GasMark> marks;
    QList<StepResponse> results;
    QList<bool> dirty;          // per step: to be analysed again
    double openAnalysedAt = 0;  // newest reading when the open step was last analysed
    bool ended = false;
};
