#!/usr/bin/env bash
# Times describe against R's survey package on the same data: CASES cases (default 1,000,000) in
# 100 strata of 10 clusters, weights, two means and a 4-category table. describe runs 5
# imputations (stacked copies with different values); survey runs the first one: svymean of both
# means, svymean of the factor, and svyby of both means over its 4 categories. Prints both
# times and the ratio per imputation. With SURVEY=0 only describe runs.
# Usage: bench/describe/describe_vs_survey.sh BUILD_DIR [CASES]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cases=${2:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The standard dataset "bench": 5 imputations stacked, sorted by imputation, stratum and cluster.
Rscript - "$cases" <<'RSCRIPT'
n <- as.integer(commandArgs(TRUE)[1])
set.seed(1)
stratum <- rep(1:100, each = n / 100)
psu <- (stratum - 1) * 10 + rep(rep(1:10, each = n / 1000), 100)
w <- 50 + 100 * runif(n)
cat <- sample(1:4, n, replace = TRUE)
f <- file("bench.dat", "wb")
for (m in 1:5) {
  y1 <- 10 + 0.01 * psu + rnorm(n)
  y2 <- 100 * runif(n) + cat
  writeBin(as.double(t(cbind(stratum, psu, w, y1, y2, cat, m))), f)
}
close(f)
writeLines(c("standard;", "variables",
             sprintf("  name=%s type=float;", c("stratum", "psu", "w", "y1", "y2", "cat", "_MULT_"))), "bench.met")
RSCRIPT

printf 'datain bench;\nmultiples 5;\nstratum stratum;\ncluster psu;\nweight w;\nmean y1 y2;\ntable cat;\nprint none;\nrun;\n' > run.set
"$build/bin/tesset" run.set /batch || { cat run.log; exit 1; }
# The data are written in the analysis order with only the analysis variables: they are the
# staged data as they stand.
cp bench.dat run.dat
start=$(date +%s.%N)
/usr/bin/time -f "%U %S %M" -o describe.cpu "$build/bin/describe" run.set /batch || { cat run.log; exit 1; }
end=$(date +%s.%N)
read -r user sys peak < describe.cpu
describe_time=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
printf 'describe: %d cases x 5 imputations, 100 strata, 1,000 clusters, 2 means, a 4-category table\n' "$cases"
printf '  %s s wall (%.3f s per imputation), %.2f s CPU, peak memory %.0f MB\n' "$describe_time" \
  "$(awk -v t="$describe_time" 'BEGIN { print t / 5 }')" "$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')" \
  "$(awk -v m="$peak" 'BEGIN { print m / 1024 }')"
[ "${SURVEY:-1}" = 0 ] && exit 0

survey_time=$(Rscript - "$cases" <<'RSCRIPT'
suppressMessages(library(survey))
n <- as.integer(commandArgs(TRUE)[1])
f <- file("bench.dat", "rb")
x <- matrix(readBin(f, double(), n * 7), ncol = 7, byrow = TRUE)
close(f)
d <- data.frame(stratum = x[, 1], psu = x[, 2], w = x[, 3], y1 = x[, 4], y2 = x[, 5], cat = factor(x[, 6]))
t <- system.time({
  des <- svydesign(id = ~psu, strata = ~stratum, weights = ~w, data = d)
  svymean(~y1 + y2, des)
  svymean(~cat, des)
  svyby(~y1 + y2, ~cat, des, svymean)
})
cat(t[["elapsed"]])
RSCRIPT
)
awk -v s="$survey_time" -v d="$describe_time" 'BEGIN {
  printf "survey (one imputation): %.3f s wall\n", s
  printf "ratio per imputation: %.1f times faster\n", s / (d / 5)
}'
