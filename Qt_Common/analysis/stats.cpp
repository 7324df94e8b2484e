#include "stats.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "studentt.h"

namespace {

struct Range {
    size_t begin = 0, end = 0;
};

// Index range of the rows inside [from, to] of a time-sorted column.
Range sortedRange(const std::vector<double>& seconds, double from, double to) {
    const auto begin = std::lower_bound(seconds.begin(), seconds.end(), from);
    const auto end = std::upper_bound(begin, seconds.end(), to);
    return {size_t(begin - seconds.begin()), size_t(end - seconds.begin())};
}

}  // namespace

IntervalStats statsBetween(const std::vector<double>& seconds, const std::vector<float>& values, double from,
                           double to, bool sorted, double confidence) {
    IntervalStats s;
    if (from > to)
        std::swap(from, to);
    s.from = from;
    s.to = to;
    s.confidence = confidence;
    const size_t rows = std::min(seconds.size(), values.size());
    Range range{0, rows};
    if (sorted)
        range = sortedRange(seconds, from, to);
    range.end = std::min(range.end, rows);
    auto inside = [&](size_t i) { return sorted || (seconds[i] >= from && seconds[i] <= to); };

    // First pass: count, sums for the means, extremes.
    double sumT = 0, sumV = 0;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    size_t n = 0;
    for (size_t i = range.begin; i < range.end; ++i) {
        if (!inside(i))
            continue;
        const double v = double(values[i]);
        if (!std::isfinite(v)) {
            ++s.skipped;
            continue;
        }
        ++n;
        sumT += seconds[i];
        sumV += v;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    s.n = n;
    if (n == 0)
        return s;
    const double meanT0 = sumT / double(n), meanV0 = sumV / double(n);

    // Second pass: sums of centred products. The mean's rounding error is
    // taken back out with the centred sums' own totals.
    double dt = 0, dv = 0, stt = 0, svv = 0, stv = 0;
    for (size_t i = range.begin; i < range.end; ++i) {
        if (!inside(i))
            continue;
        const double v = double(values[i]);
        if (!std::isfinite(v))
            continue;
        const double a = seconds[i] - meanT0, b = v - meanV0;
        dt += a;
        dv += b;
        stt += a * a;
        svv += b * b;
        stv += a * b;
    }
    const double nd = double(n);
    s.mean = meanV0 + dv / nd;
    s.min = lo;
    s.max = hi;
    s.peakToPeak = hi - lo;
    stt -= dt * dt / nd;
    svv -= dv * dv / nd;
    stv -= dt * dv / nd;
    if (n >= 2)
        s.sd = std::sqrt(std::max(0.0, svv) / (nd - 1.0));
    if (n < 2 || !(stt > 0))
        return s;
    const double slope = stv / stt;
    s.driftPerHour = slope * 3600.0;
    if (n < 3)
        return s;
    const double residual = std::max(0.0, svv - slope * stv);
    const double standardError = std::sqrt(residual / (nd - 2.0) / stt);
    const double half = studentTQuantile(1.0 - (1.0 - confidence) / 2.0, nd - 2.0) * standardError * 3600.0;
    s.driftLow = s.driftPerHour - half;
    s.driftHigh = s.driftPerHour + half;
    return s;
}
