#include "report/Distributions.hpp"

#include <cmath>
#include <limits>

namespace helmert {

namespace {

constexpr int kMostTerms = 500;
constexpr double kRelativeAccuracy = 1e-14;
constexpr double kTiny = 1e-300;  // keeps Lentz's ratios away from 0

// The continued fraction of the incomplete beta function I_x(a, b).
double BetaContinuedFraction(double a, double b, double x) {
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 - qab * x / qap;
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m < kMostTerms; ++m) {
    const int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 + aa * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1.0 + aa / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < kRelativeAccuracy) break;
  }
  return h;
}

// Regularized incomplete beta function I_x(a, b), 0 <= x <= 1.
double RegularizedBeta(double a, double b, double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  const double front =
      std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
               a * std::log(x) + b * std::log1p(-x));
  // The fraction converges fast for x below (a + 1) / (a + b + 2); above
  // it, the symmetry I_x(a, b) = 1 - I_(1-x)(b, a).
  if (x < (a + 1.0) / (a + b + 2.0)) {
    return front * BetaContinuedFraction(a, b, x) / a;
  }
  return 1.0 - front * BetaContinuedFraction(b, a, 1.0 - x) / b;
}

}  // namespace

double FUpperTail(double f, double d1, double d2) {
  if (!(d1 > 0.0 && d2 > 0.0) || std::isnan(f)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (f <= 0.0) return 1.0;
  // P(F > f) = I_(d2 / (d2 + d1 f))(d2 / 2, d1 / 2).
  return RegularizedBeta(d2 / 2.0, d1 / 2.0, d2 / (d2 + d1 * f));
}

double SidakShare(double level, double part, double whole) {
  return -std::expm1(std::log1p(-level) * part / whole);
}

}  // namespace helmert
