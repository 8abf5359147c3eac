#!/usr/bin/env bash
# Real-data check: mice's nhanes and boys data, exported to CSV (scripts/export_mice_data.R),
# imported with getdata, imputed by impute with 5 multiples, and imputed by mice with the
# matching methods (norm, logreg, polyreg) on the same data. Prints per imputed variable the
# mean (or the share of each code) of the completed data, averaged over the 5 multiples, with
# its spread (standard deviation) over the multiples, for both side by side.
# Usage: scripts/mice_real_data.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
Rscript "$here/export_mice_data.R" "$work"

# name, categorical variables
impute_set() {
  printf 'datain %s.csv;\ndataout %s;\ntable;\ndelim csv;\nrun;\n' "$1" "$1" > get_"$1".set
  "$build/bin/getdata" get_"$1".set /batch > /dev/null
  printf 'datain %s;\ncategorical %s;\nmultiples 5;\niterations 10;\nseed 20261208;\nprint none;\nrun;\n' "$1" "$2" > imp_"$1".set
  "$build/bin/tesset" imp_"$1".set /batch > /dev/null
  "$build/bin/impute" imp_"$1".set /batch > /dev/null
}
impute_set nhanes "hyp"
impute_set boys "gen phb reg"

Rscript - <<'RSCRIPT'
suppressMessages(library(mice))
# The imputed values of a .cor file (multiples, no implicates): variable index (0-based),
# multiple, case, value.
read_cor <- function(path) {
  raw <- readBin(path, "raw", file.info(path)$size)
  con <- rawConnection(raw); on.exit(close(con))
  rows <- list()
  repeat {
    len <- readBin(con, "integer", 1, 4, endian = "little")
    if (length(len) == 0 || len == 0) break
    readBin(con, "integer", 1, 4, endian = "little")
    case <- readBin(con, "integer", 1, 4, endian = "little")
    readBin(con, "integer", 1, 4, endian = "little")
    mult <- readBin(con, "integer", 1, 2, endian = "little")
    for (e in seq_len((len - 18) / 10)) {
      v <- readBin(con, "integer", 1, 2, endian = "little")
      x <- readBin(con, "double", 1, 8, endian = "little")
      rows[[length(rows) + 1]] <- c(v, mult, case, x)
    }
  }
  as.data.frame(do.call(rbind, rows), col.names = c("var", "mult", "case", "value")) |> setNames(c("var", "mult", "case", "value"))
}
# Per multiple the completed variable's mean, or per code its share.
summaries <- function(x, categorical) {
  if (!categorical) return(c(mean = mean(x)))
  sapply(sort(unique(x)), function(k) mean(x == k)) |> setNames(paste0("code ", sort(unique(x))))
}
compare <- function(name, categorical) {
  d <- read.csv(paste0(name, ".csv"))
  cor <- read_cor(paste0("imp_", name, ".cor"))
  method <- make.method(d)
  md <- d
  for (v in names(d)) {
    if (method[v] == "") next
    if (v %in% categorical) {
      md[[v]] <- factor(d[[v]])
      method[v] <- if (nlevels(md[[v]]) > 2) "polyreg" else "logreg"
    } else method[v] <- "norm"
  }
  imp <- mice(md, m = 5, maxit = 10, method = method, printFlag = FALSE, seed = 1)
  cat(sprintf("\n%s (%d cases)\n", name, nrow(d)))
  cat(sprintf("%-6s %-8s %8s %14s %14s\n", "var", "stat", "missing", "impute", "mice"))
  for (v in names(d)[method != ""]) {
    index <- match(v, names(d)) - 1
    ours <- sapply(1:5, function(m) {
      x <- d[[v]]
      r <- cor[cor$var == index & cor$mult == m, ]
      x[r$case] <- r$value
      summaries(x, v %in% categorical)
    })
    theirs <- sapply(1:5, function(m) summaries(as.numeric(as.character(complete(imp, m)[[v]])), v %in% categorical))
    ours <- matrix(ours, ncol = 5); theirs <- matrix(theirs, ncol = 5)
    stats <- if (v %in% categorical) paste0("p", sort(unique(na.omit(d[[v]])))) else "mean"
    for (s in seq_along(stats))
      cat(sprintf("%-6s %-8s %8d %7.4f (%.4f) %7.4f (%.4f)\n", v, stats[s], sum(is.na(d[[v]])),
                  mean(ours[s, ]), sd(ours[s, ]), mean(theirs[s, ]), sd(theirs[s, ])))
  }
}
compare("nhanes", "hyp")
compare("boys", c("gen", "phb", "reg"))
RSCRIPT
