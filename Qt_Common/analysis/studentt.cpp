#include "studentt.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Not every C library defines M_PI in strict C++ (mingw-w64 does not).
constexpr double kPi = 3.14159265358979323846;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Continued fraction of I_x(a, b) (modified Lentz). Converges fast for
// x < (a + 1) / (a + b + 2); large a and b need about sqrt(max(a, b)) terms.
double betaFraction(double a, double b, double x) {
    constexpr double kTiny = 1e-300;
    constexpr double kEps = 1e-16;
    const double qab = a + b, qap = a + 1.0, qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 - qab * x / qap;
    if (std::fabs(d) < kTiny)
        d = kTiny;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= 100000; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny)
            d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny)
            c = kTiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < kTiny)
            d = kTiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < kTiny)
            c = kTiny;
        d = 1.0 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1.0) < kEps)
            break;
    }
    return h;
}

// I_x(a, b) with y = 1 - x given separately, so that x close to 1 keeps its precision.
double incompleteBeta(double a, double b, double x, double y) {
    if (x <= 0.0)
        return 0.0;
    if (y <= 0.0)
        return 1.0;
    const double logFront = std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log(y);
    const double front = std::exp(logFront);
    if (x < (a + 1.0) / (a + b + 2.0))
        return front * betaFraction(a, b, x) / a;
    return 1.0 - front * betaFraction(b, a, y) / b;
}

// P(T > t) for t >= 0.
double upperTail(double t, double df) {
    const double t2 = t * t;
    return 0.5 * incompleteBeta(df / 2.0, 0.5, df / (df + t2), t2 / (df + t2));
}

double density(double t, double df) {
    const double logNorm = std::lgamma((df + 1.0) / 2.0) - std::lgamma(df / 2.0) - 0.5 * std::log(df * kPi);
    return std::exp(logNorm - (df + 1.0) / 2.0 * std::log1p(t * t / df));
}

// Upper normal quantile, Abramowitz and Stegun 26.2.23 (|error| < 4.5e-4): a start only.
double normalUpperQuantile(double q) {
    const double s = std::sqrt(-2.0 * std::log(q));
    return s - (2.515517 + 0.802853 * s + 0.010328 * s * s) / (1.0 + 1.432788 * s + 0.189269 * s * s + 0.001308 * s * s * s);
}

}  // namespace

double incompleteBeta(double a, double b, double x) {
    if (!(a > 0.0) || !(b > 0.0) || !(x >= 0.0) || !(x <= 1.0))
        return kNaN;
    return incompleteBeta(a, b, x, 1.0 - x);
}

double studentTCdf(double t, double df) {
    if (!(df > 0.0) || std::isnan(t))
        return kNaN;
    if (std::isinf(t))
        return t > 0 ? 1.0 : 0.0;
    const double tail = upperTail(std::fabs(t), df);
    return t >= 0 ? 1.0 - tail : tail;
}

double studentTQuantile(double p, double df) {
    if (!(df > 0.0) || !(p > 0.0) || !(p < 1.0))
        return kNaN;
    if (p == 0.5)
        return 0.0;
    if (p < 0.5)
        return -studentTQuantile(1.0 - p, df);
    const double q = 1.0 - p;
    // The upper tail is convex and decreasing for t > 0, so Newton's method
    // converges from any start; a tangent from above can only land below the
    // root, never past zero by more than the clamp.
    double t = normalUpperQuantile(q);
    for (int i = 0; i < 200; ++i) {
        const double step = (upperTail(t, df) - q) / density(t, df);
        const double next = std::max(0.0, t + step);
        if (std::fabs(next - t) <= 1e-15 * std::max(1.0, next)) {
            t = next;
            break;
        }
        t = next;
    }
    return t;
}
