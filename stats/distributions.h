// Distribution routines: t, F and chi-square tail probabilities and the inverse of the t tail,
// built on the regularised incomplete beta function, and the normal cdf and its inverse.
//
// Every routine returns a finite value for every argument it accepts (programs run with
// floating-point traps armed): squares, ratios, exponentials and logarithms are formed so that
// they cannot overflow, divide by zero or produce NaN at extreme arguments. NaN arguments are
// not accepted.
#pragma once

namespace tessary {

// Natural logarithm of the gamma function for 0 < x <= 1e300 (six-term Lanczos series).
double ln_gamma(double x);

// Regularised incomplete beta function I_x(a, b) for a, b > 0 and 0 <= x <= 1, evaluated by the
// continued fraction with a relative accuracy of about 3e-7. Ends the run with
// "Bad x in routine betai" when x lies outside [0, 1], and with
// "a or b too big, or MAXIT too small in betacf" when the continued fraction does not settle
// within 100 iterations (both a and b very large near the centre of the distribution).
double incomplete_beta(double a, double b, double x);

// Two-sided tail probability of Student's t with `df` degrees of freedom at t:
// P(|T| >= |t|). Ends the run with "t_pvalue: Nonpositive degrees of freedom" when df <= 0.
double t_pvalue(double df, double t);

// The t value whose two-sided tail probability is p, found by at most 50 halvings of
// x = df/(df + t^2) until the tail is within 1e-6 of p (so below p = 1e-6 any t with a tail that
// close is taken, and far quantiles of df well below 1 end at the 50th halving).
// p = 0 gives the largest double, p = 1 gives 0. Ends the run with
// "t_pinverse: Nonpositive degrees of freedom" when df <= 0 and with
// "t_pinverse: Invalid pval" when p lies outside [0, 1].
double t_pinverse(double df, double p);

// Upper tail probability of a chi-square with `df` degrees of freedom at x, taken as the upper
// tail of F(df, 20000000) at x/df (relative error about x^2/8e7 against the exact tail). Ends
// the run with "chi_pvalue: Nonpositive degrees of freedom" when df <= 0 and with
// "chi_pvalue: Nonpositive Chi value" when x <= 0; from df of about 1e5 up the continued
// fraction no longer settles near the centre and the run ends as incomplete_beta says.
double chi_pvalue(double df, double x);

// Upper tail probability of F with d1 and d2 degrees of freedom at f. Ends the run with
// "f_pvalue: Nonpositive degrees of freedom" when d1 or d2 is not positive and with
// "f_pvalue: Nonpositive F value" when f <= 0.
double f_pvalue(double d1, double d2, double f);

// Standard normal cdf from rational approximations of erf and erfc; fixed at
// 2.220446049250313e-16 below x = -8.1263579280772 and at 0.9999999999999998 above its mirror.
double normal_cdf(double x);

// Inverse of the standard normal cdf (Beasley and Springer's rational approximations), with p
// first limited to [2.220446049250313e-16, 0.9999999999999998].
double inverse_normal_cdf(double p);

}  // namespace tessary
