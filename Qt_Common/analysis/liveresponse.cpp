#include "liveresponse.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString secondsText(double seconds) {
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
}

// Why a step has no response time, in a few words; an open step may still get one.
QString shortReason(StepResponse::Problem problem, bool open) {
    switch (problem) {
        case StepResponse::NoProblem:
            return QString();
        case StepResponse::NoBaseline:
            return QStringLiteral("no reading before the mark");
        case StepResponse::NoReadings:
            return open ? QStringLiteral("waiting for readings") : QStringLiteral("too few readings");
        case StepResponse::NoChange:
            return open ? QStringLiteral("no change yet") : QStringLiteral("no change");
        case StepResponse::NotSettled:
        case StepResponse::NotReached:
            if (open)
                return QStringLiteral("settling");
            return problem == StepResponse::NotSettled ? QStringLiteral("not settled")
                                                       : QStringLiteral("level not reached");
    }
    return QString();
}

}  // namespace

LiveResponse::LiveResponse(const ResponseSettings& settings) : set(settings) {}

void LiveResponse::clear() {
    times.clear();
    readings.clear();
    marks.clear();
    results.clear();
    dirty.clear();
    openAnalysedAt = 0;
    ended = false;
}

void LiveResponse::setSettings(const ResponseSettings& settings) {
    set = settings;
    for (int i = 0; i < dirty.size(); ++i)
        dirty[i] = true;
}

void LiveResponse::addReading(double seconds, float value) {
    if (!std::isfinite(seconds))
        return;
    ended = false;
    if (times.empty() || seconds >= times.back()) {
        times.push_back(seconds);
        readings.push_back(value);
    } else {
        const auto at = std::upper_bound(times.begin(), times.end(), seconds);
        readings.insert(readings.begin() + (at - times.begin()), value);
        times.insert(at, seconds);
    }
    // A reading from before a mark (a cycle handed on just after the press)
    // belongs to a step already analysed, or to the open step's baseline.
    for (int i = 0; i < marks.size(); ++i) {
        const bool beforeEnd = i + 1 < marks.size() && seconds < marks[i + 1].seconds;
        const bool beforeMark = seconds < marks[i].seconds;
        if (beforeEnd || beforeMark)
            dirty[i] = true;
    }
}

void LiveResponse::addMark(const GasMark& mark) {
    if (mark.kind == GasMark::Note || !std::isfinite(mark.seconds))
        return;
    const auto later = std::upper_bound(marks.begin(), marks.end(), mark,
                                        [](const GasMark& a, const GasMark& b) { return a.seconds < b.seconds; });
    const int at = int(later - marks.begin());
    marks.insert(at, mark);
    StepResponse waiting;
    waiting.mark = mark;
    waiting.kind = mark.kind == GasMark::GasOn ? StepResponse::Rise : StepResponse::Fall;
    waiting.problem = StepResponse::NoReadings;
    waiting.settings = set;
    results.insert(at, waiting);
    dirty.insert(at, true);
    // The step before now ends at this mark; the one after has its baseline bounded by it.
    if (at > 0)
        dirty[at - 1] = true;
    if (at + 1 < dirty.size())
        dirty[at + 1] = true;
}

void LiveResponse::finish() {
    ended = true;
    if (!dirty.isEmpty())
        dirty.last() = true;
}

bool LiveResponse::update() {
    bool analysed = false;
    for (int i = 0; i < results.size(); ++i) {
        bool due = dirty[i];
        if (!due && isOpen(i) && !times.empty() && times.back() > openAnalysedAt) {
            const double since = times.back() - openAnalysedAt;
            const double length = times.back() - marks[i].seconds;
            due = since >= std::max(kMinInterval, kIntervalShare * length);
        }
        if (!due)
            continue;
        analyse(i);
        dirty[i] = false;
        if (isOpen(i))
            openAnalysedAt = times.empty() ? 0 : times.back();
        analysed = true;
    }
    return analysed;
}

void LiveResponse::analyse(int step) {
    // The step's readings: from its baseline window (not reaching back past the
    // previous mark) to its end, and the last reading before that window, which
    // stands for the baseline when the window holds none. With the neighbouring
    // marks beside it, analyseSteps() then treats the step as over the whole run.
    const double inf = std::numeric_limits<double>::infinity();
    const GasMark& mark = marks[step];
    const double previous = step > 0 ? marks[step - 1].seconds : -inf;
    const double from = std::max(previous, mark.seconds - set.baselineSeconds);
    const bool closed = step + 1 < marks.size();
    size_t lo = size_t(std::lower_bound(times.begin(), times.end(), from) - times.begin());
    while (lo > 0) {
        --lo;
        if (std::isfinite(readings[lo]))
            break;
    }
    const size_t hi = closed ? size_t(std::lower_bound(times.begin(), times.end(), marks[step + 1].seconds) - times.begin())
                             : times.size();
    const std::vector<double> t(times.begin() + long(lo), times.begin() + long(std::max(lo, hi)));
    const std::vector<float> v(readings.begin() + long(lo), readings.begin() + long(std::max(lo, hi)));

    QList<GasMark> around;
    if (step > 0)
        around << marks[step - 1];
    around << mark;
    if (closed)
        around << marks[step + 1];
    const QList<StepResponse> steps = analyseSteps(t, v, around, set);
    results[step] = steps.at(step > 0 ? 1 : 0);
}

QString LiveResponse::summary(int step, bool withTime) const {
    const StepResponse& r = results.at(step);
    QString text = r.mark.kind == GasMark::GasOn ? QStringLiteral("Gas on") : QStringLiteral("Gas off");
    if (withTime)
        text += QStringLiteral(" at ") + secondsText(r.mark.seconds);
    text += QStringLiteral(": ");
    if (!r.ok())
        return text + shortReason(r.problem, isOpen(step));
    QStringList times;
    for (const ResponseTime& time : r.times)
        times << QStringLiteral("%1 %2").arg(time.name, secondsText(time.seconds));
    return text + times.join(QStringLiteral(", "));
}
