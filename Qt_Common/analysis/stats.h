// Statistics of a reading between two times (two cursors on a plot): count,
// mean, sample standard deviation, extremes, and the drift of a least-squares
// line with its confidence interval.
#pragma once

#include <cstddef>
#include <limits>
#include <vector>

struct IntervalStats {
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    double from = kNaN, to = kNaN;  // the interval asked for, from <= to
    size_t n = 0;                   // finite readings in it
    size_t skipped = 0;             // readings in it that are no number (nan, inf)
    double mean = kNaN;
    double sd = kNaN;               // sample standard deviation (n - 1); n >= 2
    double min = kNaN, max = kNaN, peakToPeak = kNaN;
    // Slope of the least-squares line through (time, reading), in units per
    // hour (n >= 2 and more than one distinct time), and its two-sided
    // confidence interval: slope -/+ t(1 - (1 - level) / 2, n - 2) * standard
    // error (n >= 3).
    double driftPerHour = kNaN;
    double driftLow = kNaN, driftHigh = kNaN;
    double confidence = 0.95;
};

// Readings with from <= time <= to (the bounds may come in either order).
// `sorted` says the times never decrease, so the interval is found by bisection.
// Centred sums in two passes: exact to a few ulps also for long runs whose
// times and readings sit far from zero.
IntervalStats statsBetween(const std::vector<double>& seconds, const std::vector<float>& values, double from,
                           double to, bool sorted = true, double confidence = 0.95);
