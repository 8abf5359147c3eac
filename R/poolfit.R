# Host side of the pooled regression procedure for R: fits a model on every completed data set
# (one per imputation) and, for a design, on every jackknife replicate, and writes the
# replicates file that `poolfit` reads. The file layout and the meaning of every value are in
# docs/poolfit.md; everything is written little-endian, field by field.

# Model kind codes: how poolfit shows the estimates of a fit.
poolfit_kind <- function(kind, family = NULL) {
  if (kind == "lm") return(1L)                       # least squares: T tests, sums of squares
  link <- family$link
  fam <- family$family
  if (fam %in% c("binomial", "quasibinomial")) {
    if (link == "logit") return(2L)                  # odds ratios
    if (link == "log") return(7L)                    # risk ratios
    return(3L)                                       # probit, cloglog: no interval table
  }
  if (fam %in% c("poisson", "quasipoisson") && link == "log") return(5L)  # exponentiated
  0L                                                 # plain limits
}

# A parameter name as poolfit shows it: "(Intercept)" becomes "Intercept", at most 32 bytes.
poolfit_parameter_names <- function(names) {
  names <- sub("^\\(Intercept\\)", "Intercept", names)
  vapply(names, function(n) {
    bytes <- charToRaw(enc2utf8(n))
    rawToChar(bytes[seq_len(min(length(bytes), 32L))])
  }, "", USE.NAMES = FALSE)
}

# Byte writers of the record fields.
poolfit_doubles <- function(x) writeBin(as.double(x), raw(), size = 8, endian = "little")
poolfit_count <- function(n) writeBin(as.integer(n), raw(), size = 4, endian = "little")
poolfit_field <- function(text, width) {
  bytes <- charToRaw(enc2utf8(as.character(text)))
  bytes <- bytes[seq_len(min(length(bytes), width))]
  c(bytes, raw(width - length(bytes)))
}
# An 8-byte text value (by variables): blank-padded.
poolfit_text8 <- function(text) {
  bytes <- charToRaw(enc2utf8(as.character(text)))
  bytes <- bytes[seq_len(min(length(bytes), 8L))]
  c(bytes, rep(as.raw(32L), 8L - length(bytes)))
}

# The fit values, estimates and covariance of one fitted model.
poolfit_fit_values <- function(fit, kind) {
  w <- stats::weights(fit)
  if (is.null(w)) w <- rep(1, length(stats::residuals(fit)))
  used <- w > 0
  est <- stats::coef(fit)
  aliased <- is.na(est)
  est[aliased] <- 0
  v <- matrix(0, length(est), length(est))
  v[!aliased, !aliased] <- stats::vcov(fit)[!aliased, !aliased, drop = FALSE]
  values <- list(cases = sum(used), weights = sum(w[used]), df = stats::df.residual(fit),
                 estimates = est, names = poolfit_parameter_names(names(est)), covariance = v)
  if (kind == 1L) {
    y <- stats::model.response(stats::model.frame(fit))
    sse <- sum(w * stats::residuals(fit)^2)
    centre <- if (attr(stats::terms(fit), "intercept") == 1) sum(w * y) / sum(w) else 0
    values$fit <- sse
    values$total <- sum(w * (y - centre)^2)
  } else {
    values$fit <- as.numeric(stats::logLik(fit))
  }
  values
}

# One record of the replicates file as raw bytes.
poolfit_record <- function(imputation, by_values, design, stratum, cluster, values, kind) {
  bytes <- list(poolfit_doubles(imputation))
  for (b in by_values) bytes[[length(bytes) + 1]] <- if (is.character(b)) poolfit_text8(b) else poolfit_doubles(b)
  if (design) bytes[[length(bytes) + 1]] <- poolfit_doubles(c(stratum, cluster))
  bytes[[length(bytes) + 1]] <- poolfit_doubles(c(values$cases, values$weights))
  if (!design) bytes[[length(bytes) + 1]] <- poolfit_doubles(values$df)
  bytes[[length(bytes) + 1]] <- poolfit_doubles(values$fit)
  if (kind == 1L) bytes[[length(bytes) + 1]] <- poolfit_doubles(values$total)
  p <- length(values$estimates)
  bytes[[length(bytes) + 1]] <- poolfit_count(p)
  for (i in seq_len(p))
    bytes[[length(bytes) + 1]] <- c(poolfit_field(values$names[i], 32L), poolfit_doubles(values$estimates[i]))
  if (!design) {
    v <- values$covariance
    bytes[[length(bytes) + 1]] <- poolfit_doubles(unlist(lapply(seq_len(p), function(i) v[i, seq_len(i)])))
  }
  bytes[[length(bytes) + 1]] <- poolfit_count(0L)  # no auxiliary parameters from lm and glm
  do.call(c, bytes)
}

# The jackknife replicates of a design: for each stratum, one replicate per cluster that drops
# the cluster and weights the stratum's other clusters up by n/(n - 1). Returns a list of
# (stratum, cluster, weights) in stratum and cluster order.
poolfit_jackknife <- function(strata, clusters, weights) {
  out <- list()
  for (h in sort(unique(strata))) {
    in_h <- strata == h
    ids <- sort(unique(clusters[in_h]))
    n <- length(ids)
    for (i in ids) {
      w <- weights
      w[in_h] <- w[in_h] * n / max(n - 1, 1)
      w[in_h & clusters == i] <- 0
      out[[length(out) + 1]] <- list(stratum = h, cluster = i, weights = w)
    }
  }
  out
}

# Fits `formula` on each completed data set of `data` (a list of data frames, one per
# imputation) and writes the replicates file `file` (usually the setup's name with ".rep").
#   kind      "lm" (least squares) or "glm" (with `family`)
#   strata, cluster, weights   column names of the design; any of them makes a design analysis
#   by        column names of by-groups
# Returns, invisibly, the model kind code and the PROC statement for the poolfit setup.
poolfit_replicates <- function(data, formula, kind = c("lm", "glm"), family = stats::gaussian(),
                               strata = NULL, cluster = NULL, weights = NULL, by = NULL, file,
                               imputations = seq_along(data)) {
  kind <- match.arg(kind)
  if (is.character(family)) family <- get(family, mode = "function")()
  if (is.function(family)) family <- family()
  code <- poolfit_kind(kind, family)
  design <- !is.null(strata) || !is.null(cluster) || !is.null(weights)
  fit_model <- function(frame, w) {
    frame$.poolfit_w <- if (is.null(w)) rep(1, nrow(frame)) else w
    if (kind == "lm") return(stats::lm(formula, data = frame, weights = .poolfit_w))
    # Survey weights are not frequencies: binomial fits warn about non-integer successes.
    suppressWarnings(stats::glm(formula, data = frame, family = family, weights = .poolfit_w))
  }
  con <- file(file, "wb")
  on.exit(close(con))
  for (m in seq_along(data)) {
    frame <- as.data.frame(data[[m]])
    groups <- list(seq_len(nrow(frame)))
    if (!is.null(by)) {
      # By-groups in ascending order of their values (text in byte order), as poolfit checks.
      o <- do.call(order, c(unname(as.list(frame[by])), method = "radix"))
      key <- do.call(paste, c(lapply(by, function(b) as.character(frame[[b]])), sep = "\r"))[o]
      groups <- split(o, factor(key, levels = unique(key)))
    }
    for (rows in groups) {
      part <- frame[rows, , drop = FALSE]
      by_values <- if (is.null(by)) list() else lapply(by, function(b) {
        v <- part[[b]][1]
        if (is.factor(v)) as.character(v) else v
      })
      w <- if (is.null(weights)) rep(1, nrow(part)) else as.numeric(part[[weights]])
      full <- poolfit_fit_values(fit_model(part, if (design) w else NULL), code)
      writeBin(poolfit_record(imputations[m], by_values, design, 0, 0, full, code), con)
      if (!design) next
      s <- if (is.null(strata)) rep(1, nrow(part)) else as.numeric(part[[strata]])
      cl <- if (is.null(cluster)) seq_len(nrow(part)) else as.numeric(part[[cluster]])
      for (r in poolfit_jackknife(s, cl, w)) {
        rep_values <- poolfit_fit_values(fit_model(part, r$weights), code)
        writeBin(poolfit_record(imputations[m], by_values, design, r$stratum, r$cluster, rep_values, code), con)
      }
    }
  }
  proc <- if (kind == "lm") "proc lm;" else sprintf("proc glm %d;", code)
  invisible(list(kind = code, proc = proc))
}
