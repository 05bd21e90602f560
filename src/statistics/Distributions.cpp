#include "statistics/Distributions.hpp"

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

namespace {

// P(a, x) by its series, for x < a + 1.
double GammaSeries(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  for (int k = 1; k < 1000; ++k) {
    term *= x / (a + k);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
  }
  return sum * std::exp(-x + a * std::log(x) - std::lgamma(a));
}

// Q(a, x) by its continued fraction, for x >= a + 1.
double GammaContinuedFraction(double a, double x) {
  constexpr double kTiny = 1e-300;
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i < 1000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return std::exp(-x + a * std::log(x) - std::lgamma(a)) * h;
}

}  // namespace

double ChiSquareUpperTail(double x, double dof) {
  if (!(dof > 0.0) || std::isnan(x)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (x <= 0.0) return 1.0;
  const double a = dof / 2.0;
  const double half = x / 2.0;
  if (half < a + 1.0) return 1.0 - GammaSeries(a, half);
  return GammaContinuedFraction(a, half);
}

double NormalQuantile(double p) {
  // P(Z <= z) = erfc(-z / sqrt 2) / 2, increasing in z.
  double low = -40.0;
  double high = 40.0;
  for (int step = 0; step < 200 && high - low > 1e-15 * std::fabs(high);
       ++step) {
    const double middle = 0.5 * (low + high);
    if (0.5 * std::erfc(-middle / std::sqrt(2.0)) < p) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return 0.5 * (low + high);
}

double SidakShare(double level, double part, double whole) {
  return -std::expm1(std::log1p(-level) * part / whole);
}

}  // namespace helmert
