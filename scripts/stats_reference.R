# Reference values for the tests of the statistics routines (tests/stats/fixtures).
# Usage: Rscript scripts/stats_reference.R [output folder]   (default tests/stats/fixtures)
# Every file is plain text: lines beginning with "#" are comments, every other line holds
# numbers separated by blanks (17 significant digits), or a keyword followed by numbers.

args <- commandArgs(trailingOnly = TRUE)
out_dir <- if (length(args) >= 1) args[1] else "tests/stats/fixtures"
dir.create(out_dir, showWarnings = FALSE, recursive = TRUE)

num <- function(v) paste(sprintf("%.17g", v), collapse = " ")

write_table <- function(name, header, rows) {
  con <- file(file.path(out_dir, name), "w")
  writeLines(paste("#", header), con)
  for (r in rows) writeLines(num(r), con)
  close(con)
}

dfs <- c(1e-3, 0.01, 0.1, 0.5, 1, 2, 3, 4.5, 5, 10, 30, 100, 1000, 1e5, 1e7)

# Two-sided t tail: df t p
ts <- c(1e-3, 0.1, 0.5, 1, 1.5, 2, 2.228, 3, 5, 10, 30, 100, 1e3, 1e6, 1e30, 1e300)
rows <- list()
for (df in dfs) for (t in ts) rows[[length(rows) + 1]] <- c(df, t, 2 * pt(-t, df))
write_table("t_tail.txt", "df t two-sided-p = 2 pt(-t, df)", rows)

# Two-sided t quantile: df p t density
ps <- c(1e-4, 1e-3, 0.01, 0.05, 0.1, 0.2, 0.5, 0.8, 0.95, 0.999)
rows <- list()
for (df in dfs) for (p in ps) {
  t <- qt(p / 2, df, lower.tail = FALSE)
  rows[[length(rows) + 1]] <- c(df, p, t, dt(t, df))
}
write_table("t_quantile.txt", "df p t = qt(p/2, df, upper) density = dt(t, df)", rows)

# Regularised incomplete beta: a b x I
shapes <- c(1e-3, 0.1, 0.5, 1, 2.5, 10, 60, 400)
xs <- c(1e-12, 1e-4, 0.01, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99, 1 - 1e-6)
rows <- list()
for (a in shapes) for (b in shapes) for (x in xs) rows[[length(rows) + 1]] <- c(a, b, x, pbeta(x, a, b))
write_table("beta.txt", "a b x pbeta(x, a, b)", rows)

# F upper tail: d1 d2 F p
d1s <- c(0.5, 1, 2, 3, 7, 20, 100)
d2s <- c(0.5, 1, 4, 10, 50, 1000, 1e6)
fs <- c(1e-4, 0.1, 0.5, 1, 2, 4, 10, 100, 1e4)
rows <- list()
for (d1 in d1s) for (d2 in d2s) for (f in fs) rows[[length(rows) + 1]] <- c(d1, d2, f, pf(f, d1, d2, lower.tail = FALSE))
write_table("f_tail.txt", "d1 d2 F pf(F, d1, d2, upper)", rows)

# Chi-square upper tail and the F(df, 20000000) tail that stands in for it: df x pchisq pf
chidfs <- c(0.5, 1, 2, 3, 5, 10, 30, 100)
chixs <- c(1e-3, 0.1, 0.5, 1, 2, 3.84, 6.63, 10, 20, 50, 100, 300)
rows <- list()
for (df in chidfs) for (x in chixs)
  rows[[length(rows) + 1]] <- c(df, x, pchisq(x, df, lower.tail = FALSE), pf(x / df, df, 2e7, lower.tail = FALSE))
write_table("chi_tail.txt", "df x pchisq(x, df, upper) pf(x/df, df, 2e7, upper)", rows)

# Normal cdf: x pnorm(x)
nx <- c(-8.1, -8, -7, -6, -5, -4, -3, -2.5, -1.96, -1, -0.5, -0.3, -0.1, 0, 0.1, 0.3, 0.46875, 0.5,
        1, 1.96, 2.5, 2.8284271247461903, 3, 4, 5, 5.6568542494923806, 6, 8)
write_table("normal_cdf.txt", "x pnorm(x)", lapply(nx, function(x) c(x, pnorm(x))))

# Inverse normal cdf: p qnorm(p)
np <- c(1e-15, 1e-10, 1e-6, 1e-4, 1e-3, 0.01, 0.025, 0.05, 0.08, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7,
        0.8, 0.9, 0.92, 0.95, 0.975, 0.99, 0.999, 0.9999, 1 - 1e-6)
write_table("normal_quantile.txt", "p qnorm(p)", lapply(np, function(p) c(p, qnorm(p))))

# Matrices. packed() lists the lower triangle row by row.
packed <- function(m) unlist(lapply(seq_len(nrow(m)), function(i) m[i, 1:i]))

set.seed(20261208)
con <- file(file.path(out_dir, "cholesky.txt"), "w")
writeLines(c("# Symmetric matrices A = X'X of integer X, packed by rows, with 0-based singular rows,",
             "# the lower Cholesky factor L = t(chol(A)) and the inverse chol2inv(chol(A)), both over",
             "# the non-singular rows with zero rows and columns at the singular ones.",
             "# case <name> <k> / singular <rows> / matrix ... / factor ... / inverse ... / end"), con)
write_case <- function(name, a, singular) {
  k <- nrow(a)
  keep <- setdiff(seq_len(k), singular + 1)
  r <- chol(a[keep, keep])
  lfull <- matrix(0, k, k); lfull[keep, keep] <- t(r)
  ifull <- matrix(0, k, k); ifull[keep, keep] <- chol2inv(r)
  writeLines(c(paste("case", name, k), paste(c("singular", singular), collapse = " "),
               paste("matrix", num(packed(a))), paste("factor", num(packed(lfull))),
               paste("inverse", num(packed(ifull))), "end"), con)
}
for (k in c(1, 2, 5, 12, 30)) {
  x <- matrix(sample(-9:9, (k + 6) * k, replace = TRUE), k + 6, k)
  write_case(sprintf("spd%d", k), crossprod(x), integer(0))
}
# Columns that repeat or combine earlier columns: their pivots vanish.
x <- matrix(sample(-9:9, 20 * 6, replace = TRUE), 20, 6)
x[, 3] <- x[, 1] + 2 * x[, 2]
x[, 6] <- x[, 4]
write_case("dependent", crossprod(x), c(2, 5))
x <- matrix(sample(-9:9, 15 * 4, replace = TRUE), 15, 4)
x[, 1] <- 0
write_case("zero_first", crossprod(x), 0)
# Badly scaled but regular: pivots far above the tolerance after scaling.
x <- matrix(sample(-9:9, 12 * 4, replace = TRUE), 12, 4) %*% diag(c(1e-3, 1, 1e3, 1e5))
write_case("scaled", crossprod(x), integer(0))
close(con)

# Least squares through the cross-product matrix of (1, X, y): the carried row of y ends with
# the coefficients on the in-columns (0 for dropped ones) and sqrt(RSS) on the diagonal.
con <- file(file.path(out_dir, "regression.txt"), "w")
writeLines(c("# Cross-products of (1, X, y), packed by rows; status 1 for predictors, 2 for y;",
             "# expected: 0-based dropped columns, coefficients (0 where dropped), sqrt(RSS).",
             "# case <name> <k> / status ... / matrix ... / dropped ... / coefficients ... / root_rss r / end"), con)
write_regression <- function(name, x, y, dropped) {
  z <- cbind(1, x, y)
  k <- ncol(z)
  keep <- setdiff(seq_len(k - 1), dropped + 1)
  fit <- lm.fit(z[, keep, drop = FALSE], y)
  coef <- numeric(k - 1); coef[keep] <- fit$coefficients
  writeLines(c(paste("case", name, k), paste("status", num(c(rep(1, k - 1), 2))),
               paste("matrix", num(packed(crossprod(z)))), paste(c("dropped", dropped), collapse = " "),
               paste("coefficients", num(coef)), paste("root_rss", num(sqrt(sum(fit$residuals^2)))),
               "end"), con)
}
x <- matrix(round(rnorm(40 * 3) * 10), 40, 3)
y <- round(3 + x %*% c(0.5, -1, 2) + rnorm(40) * 4)
write_regression("three_predictors", x, y, integer(0))
x2 <- cbind(x, x[, 2])
write_regression("repeated_predictor", x2, y, 4)
close(con)
