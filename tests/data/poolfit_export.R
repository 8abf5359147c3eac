# Writes the replicates file of a poolfit test case with R/poolfit.R and, beside it, the
# reference values computed independently in R (ref.txt: "name value" lines).
#   Rscript poolfit_export.R <source dir> <case> <output dir>
# Cases: nhanes_lm, nhanes_glm, nhanes_mean (no design, mice's nhanes imputed 5 times with a
# fixed seed; references from mitools::MIcombine), apistrat (a stratified design with one
# cluster per school; references from survey's replicate-weight variance).
args <- commandArgs(trailingOnly = TRUE)
source(file.path(args[1], "R", "poolfit.R"))
case <- args[2]
out <- args[3]
rep_file <- file.path(out, "job.rep")
refs <- character()
ref <- function(name, value) refs <<- c(refs, sprintf("%s %.17g", name, value))

if (startsWith(case, "nhanes")) {
  suppressPackageStartupMessages({library(mice); library(mitools)})
  imp <- mice(nhanes, m = 5, seed = 20240517, printFlag = FALSE)
  completed <- lapply(1:5, function(i) complete(imp, i))
  completed <- lapply(completed, function(d) transform(d, hyp = hyp - 1))
  if (case == "nhanes_lm") {
    formula <- chl ~ age + bmi
    fits <- lapply(completed, function(d) lm(formula, data = d))
    poolfit_replicates(completed, formula, "lm", file = rep_file)
  } else if (case == "nhanes_glm") {
    formula <- hyp ~ bmi + chl
    fits <- lapply(completed, function(d) glm(formula, data = d, family = binomial()))
    poolfit_replicates(completed, formula, "glm", family = binomial(), file = rep_file)
  } else {
    formula <- bmi ~ 1
    fits <- lapply(completed, function(d) lm(formula, data = d))
    poolfit_replicates(completed, formula, "lm", file = rep_file)
  }
  pooled <- MIcombine(lapply(fits, coef), lapply(fits, vcov))
  for (i in seq_along(coef(pooled))) {
    ref(sprintf("estimate%d", i), coef(pooled)[i])
    ref(sprintf("se%d", i), sqrt(diag(vcov(pooled)))[i])
  }
  # The df rule over the whole matrices: r = trace(B* U-bar^-1), df = (m - 1)(1 + 1/r)^2.
  m <- length(fits)
  theta <- sapply(fits, coef)
  ubar <- Reduce(`+`, lapply(fits, vcov)) / m
  bstar <- (1 + 1 / m) * (if (is.matrix(theta)) cov(t(theta)) else var(theta))
  r <- sum(diag(as.matrix(bstar) %*% solve(ubar)))
  ref("df", (m - 1) * (1 + 1 / r)^2)
  ref("rubin_df", pooled$df[1])
} else if (case == "apistrat") {
  suppressPackageStartupMessages(library(survey))
  data(api, package = "survey")
  d <- apistrat
  d$st <- as.numeric(d$stype)
  d$cl <- as.numeric(d$snum)
  formula <- api00 ~ ell + meals
  poolfit_replicates(list(d), formula, "lm", strata = "st", cluster = "cl", weights = "pw", file = rep_file)
  # The replicates poolfit uses: all but the first of each stratum, with scale 1 about the
  # full-sample estimate.
  reps <- poolfit_jackknife(d$st, d$cl, d$pw)
  first <- !duplicated(sapply(reps, `[[`, "stratum"))
  w <- sapply(reps[!first], `[[`, "weights")
  design <- svrepdesign(data = d, repweights = w, weights = ~pw, type = "other", scale = 1, rscales = 1,
                        mse = TRUE, combined.weights = TRUE)
  fit <- svyglm(formula, design = design)
  v <- vcov(fit)
  for (i in seq_len(nrow(v))) for (j in seq_len(i)) ref(sprintf("cov%d_%d", i, j), v[i, j])
  for (i in seq_along(coef(fit))) ref(sprintf("estimate%d", i), coef(fit)[i])
  ref("df", length(reps) - length(unique(d$st)))
}
writeLines(refs, file.path(out, "ref.txt"))
