#include "response.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Series {
    std::vector<double> t;
    std::vector<double> v;

    size_t lowerBound(double at) const { return size_t(std::lower_bound(t.begin(), t.end(), at) - t.begin()); }
};

// Finite readings in time order.
Series seriesOf(const std::vector<double>& seconds, const std::vector<float>& values) {
    const size_t rows = std::min(seconds.size(), values.size());
    std::vector<size_t> order;
    order.reserve(rows);
    for (size_t i = 0; i < rows; ++i)
        if (std::isfinite(seconds[i]) && std::isfinite(values[i]))
            order.push_back(i);
    if (!std::is_sorted(order.begin(), order.end(), [&](size_t a, size_t b) { return seconds[a] < seconds[b]; }))
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return seconds[a] < seconds[b]; });
    Series s;
    s.t.reserve(order.size());
    s.v.reserve(order.size());
    for (size_t i : order) {
        s.t.push_back(seconds[i]);
        s.v.push_back(double(values[i]));
    }
    return s;
}

double meanOf(const Series& s, size_t begin, size_t end) {
    double sum = 0;
    for (size_t i = begin; i < end; ++i)
        sum += s.v[i];
    return end > begin ? sum / double(end - begin) : kNaN;
}

// Least-squares line through rows [begin, end): its value at `at` and its slope.
// Fewer than two distinct times give the mean and slope 0.
std::pair<double, double> lineOf(const Series& s, size_t begin, size_t end, double at) {
    const double n = double(end - begin);
    double mt = 0, mv = 0;
    for (size_t i = begin; i < end; ++i) {
        mt += s.t[i];
        mv += s.v[i];
    }
    mt /= n;
    mv /= n;
    double stt = 0, stv = 0;
    for (size_t i = begin; i < end; ++i) {
        stt += (s.t[i] - mt) * (s.t[i] - mt);
        stv += (s.t[i] - mt) * (s.v[i] - mv);
    }
    const double slope = stt > 0 ? stv / stt : 0.0;
    return {mv + slope * (at - mt), slope};
}

// Scatter of rows [begin, end) about their least-squares line: the noise,
// whether or not the reading is still moving.
double noiseOf(const Series& s, size_t begin, size_t end) {
    if (end < begin + 3)
        return 0.0;
    const double at = s.t[begin];
    const std::pair<double, double> line = lineOf(s, begin, end, at);
    double ss = 0;
    for (size_t i = begin; i < end; ++i) {
        const double e = s.v[i] - (line.first + line.second * (s.t[i] - at));
        ss += e * e;
    }
    return std::sqrt(ss / double(end - begin - 2));
}

// The step's readings smoothed by a local line over `width` seconds centred on
// each reading, never reaching outside the step.
std::vector<double> smoothed(const Series& s, size_t begin, size_t end, double width) {
    std::vector<double> out(s.v.begin() + long(begin), s.v.begin() + long(end));
    if (!(width > 0))
        return out;
    size_t lo = begin, hi = begin;
    for (size_t i = begin; i < end; ++i) {
        while (s.t[lo] < s.t[i] - width / 2)
            ++lo;
        while (hi < end && s.t[hi] <= s.t[i] + width / 2)
            ++hi;
        if (hi - lo >= 3)
            out[i - begin] = lineOf(s, lo, hi, s.t[i]).first;
    }
    return out;
}

QString number(double value, int decimals = 1) {
    return QString::number(value, 'f', decimals);
}

class StepAnalysis {
public:
    StepAnalysis(const Series& s, const ResponseSettings& settings, StepResponse* step)
        : s(s), set(settings), r(*step) {}

    void run(double previousMark) {
        const double mark = r.mark.seconds;
        const size_t markRow = s.lowerBound(mark);
        const size_t fromRow = s.lowerBound(std::max(mark - set.baselineSeconds, previousMark));
        size_t baseBegin = fromRow;
        if (baseBegin == markRow && markRow > 0 && s.t[markRow - 1] >= previousMark)
            baseBegin = markRow - 1;  // nothing in the window: the last reading before the mark
        if (baseBegin == markRow)
            return fail(StepResponse::NoBaseline, QStringLiteral("no reading before the mark"));
        r.baseline = meanOf(s, baseBegin, markRow);

        begin = markRow;
        end = std::isfinite(r.endSeconds) ? s.lowerBound(r.endSeconds) : s.t.size();
        if (end < begin + 2)
            return fail(StepResponse::NoReadings, QStringLiteral("fewer than two readings after the mark"));

        // Where the step ends up, for the slope band; also tells a step that never left its baseline.
        const size_t lastBegin = std::max(begin, s.lowerBound(s.t[end - 1] - set.holdSeconds));
        const double span = meanOf(s, lastBegin, end) - r.baseline;
        const double noise = std::max(noiseOf(s, baseBegin, markRow), noiseOf(s, lastBegin, end));
        if (!(std::fabs(span) > 3.0 * noise))
            return fail(StepResponse::NoChange, QStringLiteral("the reading did not move away from its baseline %1")
                                                    .arg(number(r.baseline, 3)));
        if (!findPlateau(std::fabs(span) * set.slopeBand))
            return fail(StepResponse::NotSettled, notSettledReason());
        const std::vector<double> smooth = smoothed(s, begin, end, set.smoothSeconds);
        for (ResponseTime& time : r.times) {
            const double level = r.baseline + time.share * (r.settled - r.baseline);
            time.seconds = refined(crossing(smooth, level), level) - mark;
        }
        for (const ResponseTime& time : r.times)
            if (!std::isfinite(time.seconds))
                return fail(StepResponse::NotReached,
                            QStringLiteral("the reading never reached %1 % of its step").arg(time.share * 100.0));
    }

private:
    void fail(StepResponse::Problem problem, const QString& reason) {
        r.problem = problem;
        r.reason = reason;
        for (ResponseTime& time : r.times)
            time.seconds = kNaN;
    }

    // The first reading from which the slope stays within `band` for the hold
    // time; the plateau is what follows the hold.
    bool findPlateau(double band) {
        const double from = r.mark.seconds + set.slopeWindowSeconds;
        size_t windowBegin = begin;
        size_t candidate = end;
        for (size_t i = s.lowerBound(from); i < end; ++i) {
            while (s.t[windowBegin] < s.t[i] - set.slopeWindowSeconds)
                ++windowBegin;
            const bool flat = i + 1 - windowBegin >= 3 && std::fabs(lineOf(s, windowBegin, i + 1, s.t[i]).second) <= band;
            if (!flat) {
                candidate = end;
                continue;
            }
            if (candidate == end)
                candidate = i;
            if (s.t[i] - s.t[candidate] >= set.holdSeconds) {
                r.settledFrom = s.t[candidate] + set.holdSeconds;
                r.settled = meanOf(s, s.lowerBound(r.settledFrom), end);
                return true;
            }
        }
        return false;
    }

    QString notSettledReason() const {
        const QString rule = QStringLiteral("its slope never stayed within %1 % of the step per second for %2 s")
                                 .arg(set.slopeBand * 100.0)
                                 .arg(set.holdSeconds);
        if (r.endsAtMark)
            return QStringLiteral("not settled before the next mark at %1 s: %2").arg(number(r.endSeconds, 3), rule);
        return QStringLiteral("not settled before the run's end (%1 s after the mark): %2")
            .arg(number(s.t[end - 1] - r.mark.seconds), rule);
    }

    // Run time the smoothed reading first reaches `level` on its way from the baseline.
    double crossing(const std::vector<double>& smooth, double level) const {
        const double direction = r.settled >= r.baseline ? 1.0 : -1.0;
        double t0 = r.mark.seconds, v0 = r.baseline;
        for (size_t k = 0; k < smooth.size(); ++k) {
            const double t1 = s.t[begin + k], v1 = smooth[k];
            if (direction * (v1 - level) >= 0) {
                if (direction * (v0 - level) >= 0 || v1 == v0)
                    return t0;
                return t0 + (level - v0) / (v1 - v0) * (t1 - t0);
            }
            t0 = t1;
            v0 = v1;
        }
        return kNaN;
    }

    // The first crossing of a noisy reading comes early or late by its noise
    // over the local slope. A parabola through the raw readings around it, over
    // a share of the time since the mark (slow responses get wide windows, fast
    // ones narrow), tells the crossing with that noise averaged out and, unlike
    // a moving line, without the bias of the curve's bend.
    double refined(double first, double level) const {
        if (!std::isfinite(first))
            return first;
        const double half = std::max(set.smoothSeconds / 2.0, kRefineShare * (first - r.mark.seconds));
        const size_t lo = std::max(begin, s.lowerBound(first - half));
        const size_t hi = std::min(end, s.lowerBound(first + half + 1e-9));
        if (hi < lo + 5)
            return first;
        // Centred and scaled time keeps the normal equations well conditioned.
        double m[3][4] = {};
        for (size_t i = lo; i < hi; ++i) {
            const double x = (s.t[i] - first) / half;
            const double p[3] = {1.0, x, x * x};
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b)
                    m[a][b] += p[a] * p[b];
                m[a][3] += p[a] * (s.v[i] - level);
            }
        }
        double c[3];
        if (!solve3(m, c))
            return first;
        // c0 + c1 x + c2 x^2 = 0: the root inside the window nearest the first crossing.
        double best = std::numeric_limits<double>::infinity();
        auto consider = [&](double x) {
            if (std::isfinite(x) && std::fabs(x) <= 1.0 && std::fabs(x) < std::fabs(best))
                best = x;
        };
        if (std::fabs(c[2]) < 1e-12 * std::fabs(c[1])) {
            consider(-c[0] / c[1]);
        } else {
            const double disc = c[1] * c[1] - 4.0 * c[2] * c[0];
            if (disc >= 0) {
                // The numerically stable pair of roots.
                const double q = -0.5 * (c[1] + std::copysign(std::sqrt(disc), c[1]));
                consider(q / c[2]);
                if (q != 0)
                    consider(c[0] / q);
            }
        }
        return std::isfinite(best) ? std::max(r.mark.seconds, first + best * half) : first;
    }

    static bool solve3(double m[3][4], double out[3]) {
        for (int col = 0; col < 3; ++col) {
            int pivot = col;
            for (int row = col + 1; row < 3; ++row)
                if (std::fabs(m[row][col]) > std::fabs(m[pivot][col]))
                    pivot = row;
            if (!(std::fabs(m[pivot][col]) > 1e-12))
                return false;
            std::swap(m[col], m[pivot]);
            for (int row = 0; row < 3; ++row) {
                if (row == col)
                    continue;
                const double f = m[row][col] / m[col][col];
                for (int k = col; k < 4; ++k)
                    m[row][k] -= f * m[col][k];
            }
        }
        for (int i = 0; i < 3; ++i)
            out[i] = m[i][3] / m[i][i];
        return true;
    }

    static constexpr double kRefineShare = 0.3;

    const Series& s;
    const ResponseSettings& set;
    StepResponse& r;
    size_t begin = 0, end = 0;
};

}  // namespace

const char* StepResponse::problemName(Problem problem) {
    switch (problem) {
        case NoProblem:
            return "";
        case NoBaseline:
            return "no-baseline";
        case NoReadings:
            return "no-readings";
        case NoChange:
            return "no-change";
        case NotSettled:
            return "not-settled";
        case NotReached:
            return "not-reached";
    }
    return "";
}

QList<StepResponse> analyseSteps(const std::vector<double>& seconds, const std::vector<float>& values,
                                 const QList<GasMark>& marks, const ResponseSettings& settings) {
    const Series series = seriesOf(seconds, values);
    QList<GasMark> gas;
    for (const GasMark& mark : marks)
        if (mark.kind != GasMark::Note && std::isfinite(mark.seconds))
            gas.append(mark);
    std::stable_sort(gas.begin(), gas.end(), [](const GasMark& a, const GasMark& b) { return a.seconds < b.seconds; });

    QList<StepResponse> steps;
    for (int i = 0; i < gas.size(); ++i) {
        StepResponse step;
        step.mark = gas[i];
        step.settings = settings;
        step.kind = gas[i].kind == GasMark::GasOn ? StepResponse::Rise : StepResponse::Fall;
        if (step.kind == StepResponse::Rise)
            step.times = {{QStringLiteral("t50"), 0.5}, {QStringLiteral("t90"), 0.9}};
        else
            step.times = {{QStringLiteral("t10"), 0.9}};
        step.endsAtMark = i + 1 < gas.size();
        step.endSeconds = step.endsAtMark ? gas[i + 1].seconds : kNaN;
        const double previous = i > 0 ? gas[i - 1].seconds : -std::numeric_limits<double>::infinity();
        StepAnalysis(series, settings, &step).run(previous);
        steps.append(step);
    }
    return steps;
}
