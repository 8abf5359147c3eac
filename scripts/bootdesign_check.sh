#!/usr/bin/env bash
# Statistical check of bootdesign on the apistrat (strata, no clusters) and apiclus1 (one-stage
# clusters) samples of R's survey package: over 200 implicates (200 cluster samples of one
# weight sample each), the mean of the implicates' means of api00 against the weighted sample
# mean, and the variance between the implicates' means against the survey package's
# design-based variance of the mean. Needs R with the survey package.
# Usage: scripts/bootdesign_check.sh [BUILD_DIR]   (SEED sets the seed, default 20261208)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
seed=${SEED:-20261208}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
Rscript "$source_dir/tests/data/bootdesign_export.R" "$work"

# name, design statements, population size (100 times the sample, so that the sample's own
# members, which every implicate holds once, weigh 1% of it).
check() {
  local name=$1 design=$2 popsize=$3
  printf 'datain %s.csv;\ndataout %s;\ntable;\ndelim csv;\nrun;\n' "$name" "$name" > "import_$name.set"
  "$build/bin/getdata" "import_$name.set" /batch
  printf 'datain %s;\ndataout syn_%s;\n%s\nvar api00;\ncsamples 200;\nwsamples 1;\npopsize %s;\nseed %s;\nprint none;\nrun;\n' \
    "$name" "$name" "$design" "$popsize" "$seed" > "boot_$name.set"
  local start end
  start=$(date +%s.%N)
  "$build/bin/bootdesign" "boot_$name.set" /batch
  end=$(date +%s.%N)
  Rscript - "$name" "$work" "$popsize" "$start" "$end" <<'REOF'
args <- commandArgs(trailingOnly = TRUE)
name <- args[1]; work <- args[2]; popsize <- as.numeric(args[3])
ref <- read.table(file.path(work, "reference.txt"), row.names = 1)
# The output records: the carried variables (design variables and api00 in dataset order),
# then _IMPL_ and _OBS_.
met <- readLines(file.path(work, paste0("syn_", name, ".met")))
vars <- sub("^ *name=([^ ;]*).*$", "\\1", grep("^ *name=", met, value = TRUE))
path <- file.path(work, paste0("syn_", name, ".dat"))
values <- readBin(path, double(), file.size(path) / 8, endian = "little")
m <- matrix(values, ncol = length(vars), byrow = TRUE, dimnames = list(NULL, vars))
means <- tapply(m[, "api00"], m[, "_IMPL_"], mean)
estimate <- mean(means)
between <- var(means)
mc_error <- sqrt(between / length(means))
cat(sprintf("%s: %d implicates of %d members, %.1f s\n", name, length(means), popsize,
            as.numeric(args[5]) - as.numeric(args[4])))
cat(sprintf("  mean of implicate means %.3f, weighted sample mean %.3f, difference %.3f (%.2f Monte-Carlo errors of %.3f)\n",
            estimate, ref[name, 1], estimate - ref[name, 1], (estimate - ref[name, 1]) / mc_error, mc_error))
cat(sprintf("  between-implicate variance %.3f, design-based variance %.3f, ratio %.3f\n",
            between, ref[name, 2], between / ref[name, 2]))
REOF
}
check apistrat "stratum stratum;
weight pw;" 20000
check apiclus1 "cluster dnum;
weight pw;" 18300
