#!/usr/bin/env bash
# bootdesign on a large design: 10,000 observations in 50 strata of 10 clusters each (500
# clusters), POPSIZE 1,000,000, 10 implicates (10 cluster samples of one weight sample), written
# as a standard dataset of 10,000,000 records.
# Usage: bench/bootdesign/bench_bootdesign.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
awk 'BEGIN {
  srand(20261208)
  print "stratum,psu,w,y"
  for (i = 0; i < 10000; i++) {
    s = int(i / 200) + 1; c = (s - 1) * 10 + int((i % 200) / 20) + 1
    printf "%d,%d,%.3f,%.3f\n", s, c, 50 + rand() * 100, rand() * 1000
  }
}' > big.csv
printf 'datain big.csv;\ndataout big;\ntable;\ndelim csv;\nrun;\n' > import.set
"$build/bin/getdata" import.set /batch
printf 'datain big;\ndataout syn;\nstratum stratum;\ncluster psu;\nweight w;\nvar y;\ncsamples 10;\nwsamples 1;\npopsize 1000000;\nseed 7;\nprint none;\nrun;\n' > boot.set
start=$(date +%s.%N)
/usr/bin/time -f "%U %S %M" -o boot.cpu "$build/bin/bootdesign" boot.set /batch
end=$(date +%s.%N)
read -r user sys peak < boot.cpu
records=$(( $(stat -c %s syn.dat) / 48 ))
awk -v s="$start" -v e="$end" -v u="$user" -v y="$sys" -v n="$records" -v m="$peak" 'BEGIN {
  printf "bootdesign: 10,000 observations, 50 strata, 500 clusters, POPSIZE 1,000,000, 10 implicates\n"
  printf "  %.2f s wall, %.2f s CPU, %d records written, peak memory %.0f MB\n", e - s, u + y, n, m / 1024
}'
