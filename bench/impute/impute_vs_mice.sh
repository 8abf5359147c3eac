#!/usr/bin/env bash
# Times impute against R mice (method "norm") on the same data: CASES cases (default 100000),
# 20 continuous variables of which 10 have about 15% missing values, 5 multiples, 10 iterations.
# Prints both times, their ratio and impute's peak memory. With MICE=0 only impute runs.
# With CATEGORICAL=1 the data also hold 3 binary and 2 five-category variables with about 15%
# missing values, imputed by logistic and polytomous models (mice: "logreg" and "polyreg").
# Usage: bench/impute/impute_vs_mice.sh BUILD_DIR [CASES]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cases=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

categorical=${CATEGORICAL:-0}
Rscript - "$cases" "$categorical" <<'RSCRIPT'
n <- as.integer(commandArgs(TRUE)[1])
categorical <- commandArgs(TRUE)[2] == "1"
set.seed(1)
k <- 20
x <- matrix(rnorm(n * k), n, k)
for (j in 2:k) x[, j] <- 0.5 * x[, j - 1] + x[, j]
if (categorical) {
  # Binary and five-category variables that depend on the continuous ones.
  b <- sapply(1:3, function(j) as.numeric(runif(n) < plogis(0.5 * x[, j] - 0.3 * x[, j + 3])))
  c5 <- sapply(1:2, function(j) as.numeric(cut(x[, j + 6] + rnorm(n), c(-Inf, -1.2, -0.4, 0.4, 1.2, Inf))))
  x <- cbind(x, b, c5)
}
for (j in seq(2, k, 2)) x[runif(n) < 0.15, j] <- NA
if (categorical) for (j in (k + 1):(k + 5)) x[runif(n) < 0.15, j] <- NA
colnames(x) <- c(sprintf("v%02d", 1:k), if (categorical) c("b1", "b2", "b3", "c1", "c2"))
d <- as.data.frame(x)
if (categorical) for (v in c("b1", "b2", "b3", "c1", "c2")) d[[v]] <- factor(d[[v]])
saveRDS(d, "data.rds")
writeLines(c("standard;", "variables;", sprintf("  name=%s;", colnames(x))), "ds.met")
y <- x
y[is.na(y)] <- -.Machine$double.xmax
f <- file("ds.dat", "wb"); writeBin(as.double(t(y)), f); close(f)
RSCRIPT

cat > bench.set <<SETUP
datain ds;
$( [ "$categorical" = 1 ] && echo "categorical b1 b2 b3 c1 c2;" )
multiples 5;
iterations 10;
seed 12345;
print st;
run;
SETUP
"$build/bin/tesset" bench.set /batch
start=$(date +%s.%N)
/usr/bin/time -f "%M" -o peak.txt "$build/bin/impute" bench.set /batch
end=$(date +%s.%N)
impute_seconds=$(echo "$end - $start" | bc)
echo "impute: ${impute_seconds} s for $cases cases, peak memory $(cat peak.txt) KiB"

if [ "${MICE:-1}" != "0" ]; then
  mice_seconds=$(Rscript -e 'suppressMessages(library(mice)); d <- readRDS("data.rds");
    m <- make.method(d); m[m != ""] <- "norm";
    for (v in intersect(c("b1", "b2", "b3"), names(d))) m[v] <- "logreg";
    for (v in intersect(c("c1", "c2"), names(d))) m[v] <- "polyreg";
    t <- system.time(mice(d, m = 5, maxit = 10, method = m, printFlag = FALSE, seed = 1))[["elapsed"]];
    cat(t)')
  echo "mice (norm$([ "$categorical" = 1 ] && echo ", logreg, polyreg")): ${mice_seconds} s"
  echo "ratio mice/impute: $(echo "scale=1; $mice_seconds / $impute_seconds" | bc)"
fi
