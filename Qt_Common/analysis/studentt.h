// Student's t distribution, for confidence intervals of fitted lines.
#pragma once

// Regularized incomplete beta function I_x(a, b), 0 <= x <= 1, a, b > 0.
double incompleteBeta(double a, double b, double x);

// P(T <= t) for T with df > 0 degrees of freedom.
double studentTCdf(double t, double df);

// The t with P(T <= t) = p, 0 < p < 1; relative accuracy about 1e-13.
// NaN outside the domain.
double studentTQuantile(double p, double df);
