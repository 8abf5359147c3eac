#!/usr/bin/env bash
# Times impute against R mice (method "norm") on the same data: CASES cases (default 100000),
# 20 continuous variables of which 10 have about 15% missing values, 5 multiples, 10 iterations.
# Prints both times, their ratio and impute's peak memory. With MICE=0 only impute runs.
# Usage: bench/impute/impute_vs_mice.sh BUILD_DIR [CASES]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cases=${2:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

Rscript - "$cases" <<'RSCRIPT'
n <- as.integer(commandArgs(TRUE)[1])
set.seed(1)
k <- 20
x <- matrix(rnorm(n * k), n, k)
for (j in 2:k) x[, j] <- 0.5 * x[, j - 1] + x[, j]
for (j in seq(2, k, 2)) x[runif(n) < 0.15, j] <- NA
colnames(x) <- sprintf("v%02d", 1:k)
saveRDS(as.data.frame(x), "data.rds")
writeLines(c("standard;", "variables;", sprintf("  name=%s;", colnames(x))), "ds.met")
y <- x
y[is.na(y)] <- -.Machine$double.xmax
f <- file("ds.dat", "wb"); writeBin(as.double(t(y)), f); close(f)
RSCRIPT

cat > bench.set <<'SETUP'
datain ds;
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
    t <- system.time(mice(d, m = 5, maxit = 10, method = "norm", printFlag = FALSE, seed = 1))[["elapsed"]];
    cat(t)')
  echo "mice (norm): ${mice_seconds} s"
  echo "ratio mice/impute: $(echo "scale=1; $mice_seconds / $impute_seconds" | bc)"
fi
