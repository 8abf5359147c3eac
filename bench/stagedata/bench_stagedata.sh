#!/usr/bin/env bash
# stagedata on 1,000,000 observations in 100 strata of 10 clusters each (1,000 clusters), in
# random order, completed for 5 multiples: 5,000,000 rows written and sorted by multiple, stratum
# and cluster. The time is set against a plain copy of the same number of bytes (and a plain read
# of them, for scale).
# Usage: bench/stagedata/bench_stagedata.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The dataset (stratum, cluster, y with every tenth value missing), the describe setup checked
# by tesset, and a corrections file of 5 multiples for the missing values, written directly
# since imputing a million cases is not what is timed here.
python3 "$here/make_stage_input.py" 1000000 5
"$build/bin/tesset" stage.set /batch
mv stage.cor.new stage.cor
start=$(date +%s.%N)
/usr/bin/time -f "%U %S %M" -o stage.cpu "$build/bin/stagedata" stage.set /batch
end=$(date +%s.%N)
read -r user sys peak < stage.cpu
bytes=$(stat -c %s stage.dat)
sync
copy_start=$(date +%s.%N)
/usr/bin/time -f "%U %S" -o copy.cpu cp stage.dat copy.dat
copy_end=$(date +%s.%N)
read -r copy_user copy_sys < copy.cpu
read_start=$(date +%s.%N)
cat copy.dat > /dev/null
read_end=$(date +%s.%N)
grep -q "  Sort data" stage.log || { echo "stagedata did not sort" >&2; exit 1; }
awk -v s="$start" -v e="$end" -v u="$user" -v y="$sys" -v m="$peak" -v b="$bytes" -v cs="$copy_start" -v ce="$copy_end" \
    -v cc="$copy_user $copy_sys" -v rs="$read_start" -v re="$read_end" 'BEGIN {
  split(cc, c, " ")
  printf "stagedata: 1,000,000 observations x 5 multiples, 100 strata, 1,000 clusters, unsorted\n"
  printf "  %.2f s wall, %.2f s CPU, %.0f MB written, peak memory %.0f MB\n", e - s, u + y, b / 1048576, m / 1024
  printf "  cp of the same bytes: %.2f s wall, %.2f s CPU; ratio %.1f\n", ce - cs, c[1] + c[2], (e - s) / (ce - cs)
  printf "  cat of the copy to /dev/null: %.2f s\n", re - rs
}'
