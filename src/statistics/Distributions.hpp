// The upper tail probability of the F distribution, for the report's tests
// (Student's t as F(1, dof) for w^2). Computed from the regularized
// incomplete beta function by its continued fraction (modified Lentz), as
// in Abramowitz and Stegun 26.5.8 and 26.6.2; relative accuracy about
// 1e-12, far below what a test verdict needs.
#pragma once

namespace helmert {

// P(X > f) for X F-distributed with (d1, d2) degrees of freedom.
double FUpperTail(double f, double d1, double d2);

// P(X > x) for X chi-square distributed with `dof` degrees of freedom (any
// positive real), from the regularized upper incomplete gamma function
// Q(dof / 2, x / 2): its series below a + 1, its continued fraction
// (modified Lentz) above (Numerical Recipes, 3rd ed., 6.2).
double ChiSquareUpperTail(double x, double dof);

// The standard normal distribution's quantile: the z with P(Z <= z) = p,
// for p in (0, 1); by bisection on erfc to the last bits of a double.
double NormalQuantile(double p);

// A part's share of a level over a family of tests (Sidak):
// 1 - (1 - level)^(part / whole), without the cancellation of
// 1 - (1 - level) for small levels. With part 1 and whole m it is the
// level of each of m independent tests that keeps `level` for the family.
double SidakShare(double level, double part, double whole);

}  // namespace helmert
