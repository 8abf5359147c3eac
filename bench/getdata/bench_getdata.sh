#!/usr/bin/env bash
# Import speed of getdata on a generated CSV of 1,000,000 rows and 20 numeric columns, side by
# side with R's read.csv on the same file. Run by hand: bench/getdata/bench_getdata.sh [BUILD_DIR]
# Prints wall-clock seconds and MB/s for each (and getdata's CPU time, since the wall clock
# suffers on a busy machine).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
rows=${ROWS:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Fixed seed: the same file on every run.
awk -v rows="$rows" 'BEGIN {
  srand(20261208)
  printf "v1"; for (c = 2; c <= 20; c++) printf ",v%d", c; printf "\n"
  for (r = 0; r < rows; r++) {
    printf "%.6f", rand() * 1000
    for (c = 2; c <= 20; c++) printf ",%.6f", rand() * 1000 - 500
    printf "\n"
  }
}' > bench.csv
bytes=$(stat -c %s bench.csv)
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')
echo "Input: $rows rows x 20 numeric columns, $mb MB"

printf 'datain bench.csv;\ntable;\ndelim csv;\nrun;\n' > bench.set
cat bench.csv > /dev/null  # both readers start from a warm cache
start=$(date +%s.%N)
/usr/bin/time -f "%U %S" -o getdata.cpu "$build/bin/getdata" bench.set /BATCH
end=$(date +%s.%N)
read -r user sys < getdata.cpu
records=$(( $(stat -c %s bench.dat) / 160 ))
awk -v s="$start" -v e="$end" -v u="$user" -v y="$sys" -v b="$bytes" -v n="$records" 'BEGIN {
  w = e - s; c = u + y
  printf "getdata:  %.2f s wall (%.1f MB/s), %.2f s CPU (%.1f MB/s), %d records\n", w, b / 1e6 / w, c, b / 1e6 / c, n
}'

if command -v Rscript > /dev/null; then
  start=$(date +%s.%N)
  /usr/bin/time -f "%U %S" -o r.cpu Rscript -e 'd <- read.csv("bench.csv"); cat("read.csv rows:", nrow(d), "\n")'
  end=$(date +%s.%N)
  read -r user sys < r.cpu
  awk -v s="$start" -v e="$end" -v u="$user" -v y="$sys" -v b="$bytes" 'BEGIN {
    w = e - s; c = u + y
    printf "read.csv: %.2f s wall (%.1f MB/s), %.2f s CPU (%.1f MB/s)\n", w, b / 1e6 / w, c, b / 1e6 / c
  }'
else
  echo "read.csv: Rscript not found"
fi
