// Distribution routines. The t, F and chi-square tails are all regularised incomplete beta
// values I_x(a, b). Their arguments reach the beta function as a BetaPoint, x and 1 - x together
// with their logarithms, formed from the odds (1 - x)/x in logarithms so that t squared or d1 F
// never overflows and tiny values of x or 1 - x keep their full weight in x^a (1 - x)^b.
#include "stats/distributions.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "runtime/frame.h"
#include "stats/safe_math.h"

namespace tessary {

namespace {

// Degrees of freedom beyond which the t and F tails are computed as at this value, for the
// same t or the same F ratio: there they differ from their limits by less than 1e-9, while
// larger values would push x = df/(df + t^2) so close to 1 that its rounding spoils the
// continued fraction, and the bisection of the t inverse, which resolves x only to 2^-50, could
// no longer reach 1e-6 in p. Capping also keeps every product of a degree of freedom and a
// logarithm finite.
constexpr double df_ceiling = 1e10;

// Degrees of freedom below which the tails are computed as at this value. Half of the smallest
// denormal rounds to 0, whose ln Gamma is a division by zero; below 1e-300 every tail already
// equals its limit to far more digits than the continued fraction delivers.
constexpr double df_floor = 1e-300;

// Degrees of freedom limited to [df_floor, df_ceiling].
double usable_df(double df) { return std::clamp(df, df_floor, df_ceiling); }

// Continued fraction limits: iterations, relative stop, floor of denominators and factors.
constexpr int betacf_max_iterations = 100;
constexpr double betacf_epsilon = 3e-7;
constexpr double betacf_tiny = 1e-30;

// ln(sqrt(2 pi)).
constexpr double ln_sqrt_2pi = 0.91893853320467274178;

// A point of the incomplete beta function: x, y = 1 - x and their natural logarithms.
struct BetaPoint {
  double x;
  double y;
  double log_x;
  double log_y;
};

// The point whose odds (1 - x)/x equal e^log_odds: x = 1/(1 + r), y = r/(1 + r).
BetaPoint point_from_log_odds(double log_odds) {
  BetaPoint p{};
  p.log_x = -log1p_exp(log_odds);
  p.log_y = -log1p_exp(-log_odds);
  p.x = std::exp(p.log_x);
  p.y = std::exp(p.log_y);
  return p;
}

// The point x itself, 0 < x < 1.
BetaPoint point_from_x(double x) { return {x, 1.0 - x, std::log(x), std::log1p(-x)}; }

// Stirling's series remainder ln Gamma(x) - ((x - 0.5) ln x - x + ln sqrt(2 pi)), for x >= 1000.
double stirling_remainder(double x) {
  const double inverse_square = 1.0 / (x * x);
  return (1.0 / 12.0 - inverse_square * (1.0 / 360.0 - inverse_square / 1260.0)) / x;
}

// ln Gamma(big + small) - ln Gamma(big) for big of about a million or more, without the
// cancellation of two huge logarithms.
double ln_gamma_rise(double big, double small) {
  return (big - 0.5) * std::log1p(small / big) + small * std::log(big + small) - small +
         stirling_remainder(big + small) - stirling_remainder(big);
}

// ln B(a, b) = ln Gamma(a) + ln Gamma(b) - ln Gamma(a + b). Moderate arguments use the Lanczos
// series directly; large ones use differences of Stirling's series, since the difference of
// lnGamma values near 1e7 or more would lose most of its digits.
double ln_beta(double a, double b) {
  if (a + b < 1e6) return ln_gamma(a) + ln_gamma(b) - ln_gamma(a + b);
  const double big = std::max(a, b);
  const double small = std::min(a, b);
  if (small < 1000) return ln_gamma(small) - ln_gamma_rise(big, small);
  return ln_sqrt_2pi - (a - 0.5) * std::log1p(b / a) - (b - 0.5) * std::log1p(a / b) -
         0.5 * std::log(a + b) + stirling_remainder(a) + stirling_remainder(b) -
         stirling_remainder(a + b);
}

// Replaces a continued-fraction denominator or factor of tiny magnitude by the floor.
double floored(double v) { return std::fabs(v) < betacf_tiny ? betacf_tiny : v; }

// Continued fraction of the incomplete beta function by the modified Lentz method.
double betacf(double a, double b, double x) {
  const double qab = a + b;
  const double qap = a + 1.0;
  const double qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 / floored(1.0 - qab * x / qap);
  double h = d;
  for (int m = 1; m <= betacf_max_iterations; ++m) {
    const double m2 = 2.0 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 / floored(1.0 + aa * d);
    c = floored(1.0 + aa / c);
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 / floored(1.0 + aa * d);
    c = floored(1.0 + aa / c);
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < betacf_epsilon) return h;
  }
  error_exit("a or b too big, or MAXIT too small in betacf");
}

// I_x(a, b) at an interior point: x^a y^b / (a B(a, b)) times the continued fraction in x, or
// one minus its mirror image in y, whichever converges faster.
double beta_at(double a, double b, const BetaPoint& p) {
  const double log_front = a * p.log_x + b * p.log_y - ln_beta(a, b);
  double value;
  if (p.x < (a + 1.0) / (a + b + 2.0))
    value = safe_exp(log_front - std::log(a)) * betacf(a, b, p.x);
  else
    value = 1.0 - safe_exp(log_front - std::log(b)) * betacf(b, a, p.y);
  return std::clamp(value, 0.0, 1.0);
}

// Upper tail of F(d1, d2) at the ratio e^log_f: I_z(d2/2, d1/2) with z = d2/(d2 + d1 F), whose
// odds are d1 F/d2.
double f_tail(double d1, double d2, double log_f) {
  d1 = usable_df(d1);
  d2 = usable_df(d2);
  return beta_at(d2 * 0.5, d1 * 0.5, point_from_log_odds(std::log(d1) + log_f - std::log(d2)));
}

// ---- Cody's rational approximations of erf and erfc. ----

constexpr double erf_threshold = 0.46875;
constexpr double erfc_underflow = 26.543;
constexpr double one_over_sqrt_pi = 0.56418958354775628695;

constexpr std::array<double, 5> erf_a = {3.16112374387056560e00, 1.13864154151050156e02,
                                         3.77485237685302021e02, 3.20937758913846947e03,
                                         1.85777706184603153e-1};
constexpr std::array<double, 4> erf_b = {2.36012909523441209e01, 2.44024637934444173e02,
                                         1.28261652607737228e03, 2.84423683343917062e03};
constexpr std::array<double, 9> erf_c = {
    5.64188496988670089e-1, 8.88314979438837594e00, 6.61191906371416295e01,
    2.98635138197400131e02, 8.81952221241769090e02, 1.71204761263407058e03,
    2.05107837782607147e03, 1.23033935479799725e03, 2.15311535474403846e-8};
constexpr std::array<double, 8> erf_d = {
    1.57449261107098347e01, 1.17693950891312499e02, 5.37181101862009858e02,
    1.62138957456669019e03, 3.29079923573345963e03, 4.36261909014324716e03,
    3.43936767414372164e03, 1.23033935480374942e03};
constexpr std::array<double, 6> erf_p = {3.05326634961232344e-1, 3.60344899949804439e-1,
                                         1.25781726111229246e-1, 1.60837851487422766e-2,
                                         6.58749161529837803e-4, 1.63153871373020978e-2};
constexpr std::array<double, 5> erf_q = {2.56852019228982242e00, 1.87295284992346725e00,
                                         5.27905102951428412e-1, 6.05183413124413191e-2,
                                         2.33520497626869185e-3};

// erf(y) for |y| <= erf_threshold.
double erf_central(double y) {
  const double ysq = y * y;
  double numerator = erf_a[4] * ysq;
  double denominator = ysq;
  for (int i = 0; i < 3; ++i) {
    numerator = (numerator + erf_a[i]) * ysq;
    denominator = (denominator + erf_b[i]) * ysq;
  }
  return y * (numerator + erf_a[3]) / (denominator + erf_b[3]);
}

// exp(-y^2) times `factor`, with y^2 split so that the rounding of the square does not spoil
// the exponential.
double times_exp_minus_square(double y, double factor) {
  const double coarse = std::trunc(y * 16.0) / 16.0;
  const double rest = (y - coarse) * (y + coarse);
  return std::exp(-coarse * coarse) * std::exp(-rest) * factor;
}

// erfc(y) for y > erf_threshold.
double erfc_tail(double y) {
  if (y >= erfc_underflow) return 0.0;
  if (y <= 4.0) {
    double numerator = erf_c[8] * y;
    double denominator = y;
    for (int i = 0; i < 7; ++i) {
      numerator = (numerator + erf_c[i]) * y;
      denominator = (denominator + erf_d[i]) * y;
    }
    return times_exp_minus_square(y, (numerator + erf_c[7]) / (denominator + erf_d[7]));
  }
  const double inverse_square = 1.0 / (y * y);
  double numerator = erf_p[5] * inverse_square;
  double denominator = inverse_square;
  for (int i = 0; i < 4; ++i) {
    numerator = (numerator + erf_p[i]) * inverse_square;
    denominator = (denominator + erf_q[i]) * inverse_square;
  }
  const double series = inverse_square * (numerator + erf_p[4]) / (denominator + erf_q[4]);
  return times_exp_minus_square(y, (one_over_sqrt_pi - series) / y);
}

// erf(v) for any finite v.
double erf_cody(double v) {
  const double y = std::fabs(v);
  if (y <= erf_threshold) return erf_central(v);
  const double magnitude = (0.5 - erfc_tail(y)) + 0.5;
  return v < 0 ? -magnitude : magnitude;
}

// erfc(v) for any finite v.
double erfc_cody(double v) {
  const double y = std::fabs(v);
  if (y <= erf_threshold) return 1.0 - erf_central(v);
  const double tail = erfc_tail(y);
  return v < 0 ? 2.0 - tail : tail;
}

// Limits of the normal cdf and of the argument of its inverse.
constexpr double smallest_probability = 2.220446049250313e-16;
constexpr double largest_probability = 0.9999999999999998;
constexpr double normal_cdf_limit = 8.1263579280772;

}  // namespace

double ln_gamma(double x) {
  static constexpr std::array<double, 6> coefficients = {
      76.18009172947146,     -86.50532032941678,    24.01409824083091,
      -1.231739572450155,    0.001208650973866179,  -5.395239384953e-06};
  const double shifted = x + 5.5;
  const double lead = (x + 0.5) * std::log(shifted) - shifted;
  double series = 1.000000000190015;
  double y = x;
  for (double c : coefficients) series += c / ++y;
  // ln(scale * series / x) taken as a difference, so that a tiny x cannot overflow the quotient.
  return lead + std::log(2.5066282746310007 * series) - std::log(x);
}

double incomplete_beta(double a, double b, double x) {
  if (x < 0.0 || x > 1.0) error_exit("Bad x in routine betai");
  if (x == 0.0) return 0.0;
  if (x == 1.0) return 1.0;
  return beta_at(a, b, point_from_x(x));
}

double t_pvalue(double df, double t) {
  if (df <= 0) error_exit("t_pvalue: Nonpositive degrees of freedom");
  if (t == 0) return 1.0;
  if (std::isinf(t)) return 0.0;
  df = usable_df(df);
  // x = df/(df + t^2), whose odds are t^2/df.
  const BetaPoint p = point_from_log_odds(2.0 * std::log(std::fabs(t)) - std::log(df));
  return beta_at(df * 0.5, 0.5, p);
}

double t_pinverse(double df, double p) {
  if (df <= 0) error_exit("t_pinverse: Nonpositive degrees of freedom");
  if (p < 0 || p > 1) error_exit("t_pinverse: Invalid pval");
  if (p == 0) return 1.7976931348623157e308;
  if (p == 1) return 0.0;
  df = usable_df(df);
  const double a = df * 0.5;
  double lo = 0.0;
  double hi = 1.0;
  double mid = 0.5;
  for (int step = 0; step < 50; ++step) {
    mid = (lo + hi) * 0.5;
    const double q = beta_at(a, 0.5, point_from_x(mid));
    if (std::fabs(q - p) < 1e-6) break;
    if (p <= q)
      hi = mid;
    else
      lo = mid;
  }
  // sqrt((1/x - 1) df), as a product of square roots so that it cannot overflow.
  return std::sqrt((1.0 - mid) / mid) * std::sqrt(df);
}

double chi_pvalue(double df, double x) {
  if (df <= 0) error_exit("chi_pvalue: Nonpositive degrees of freedom");
  if (x <= 0) error_exit("chi_pvalue: Nonpositive Chi value");
  if (std::isinf(x)) return 0.0;
  return f_tail(df, 20000000.0, std::log(x) - std::log(df));
}

double f_pvalue(double d1, double d2, double f) {
  if (d1 <= 0 || d2 <= 0) error_exit("f_pvalue: Nonpositive degrees of freedom");
  if (f <= 0) error_exit("f_pvalue: Nonpositive F value");
  if (std::isinf(f)) return 0.0;
  return f_tail(d1, d2, std::log(f));
}

double normal_cdf(double x) {
  if (x <= -normal_cdf_limit) return smallest_probability;
  if (x >= normal_cdf_limit) return largest_probability;
  const double v = x / 1.4142135623730951;
  // The lower half through erfc keeps its relative accuracy in the far tail.
  return x < 0 ? 0.5 * erfc_cody(-v) : 0.5 * (1.0 + erf_cody(v));
}

double inverse_normal_cdf(double p) {
  static constexpr double a0 = 2.50662823884, a1 = -18.61500062529, a2 = 41.39119773534,
                          a3 = -25.44106049637;
  static constexpr double b1 = -8.47351093090, b2 = 23.08336743743, b3 = -21.06224101826,
                          b4 = 3.13082909833;
  static constexpr double c0 = -2.78718931138, c1 = -2.29796479134, c2 = 4.85014127135,
                          c3 = 2.32121276858;
  static constexpr double d1 = 3.54388924762, d2 = 1.63706781897;
  p = std::clamp(p, smallest_probability, largest_probability);
  const double q = p - 0.5;
  if (std::fabs(q) <= 0.42) {
    const double r = q * q;
    return q * (((a3 * r + a2) * r + a1) * r + a0) / ((((b4 * r + b3) * r + b2) * r + b1) * r + 1.0);
  }
  const double r = std::sqrt(-std::log(q > 0 ? 1.0 - p : p));
  const double z = (((c3 * r + c2) * r + c1) * r + c0) / ((d2 * r + d1) * r + 1.0);
  return q < 0 ? -z : z;
}

}  // namespace tessary
