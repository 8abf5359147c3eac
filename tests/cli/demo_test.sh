#!/usr/bin/env bash
# The demo leaves the dataset, the control file, the listings and the analysis in BUILD_DIR/demo
# and says so.
# Usage: demo_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
output=$(bash "$1/scripts/demo.sh" "$2")
for file in sample.met sample.dat sample.lst check.ctl check.lst check.cor completed.met completed.dat completed.csv job.log means.lst means.est analysis.log; do
  [ -s "$2/demo/$file" ] || { echo "missing or empty: $2/demo/$file"; exit 1; }
done
grep -q "Outputs, in $2/demo:" <<<"$output" || { echo "the demo does not say where its outputs are"; exit 1; }
[ "$(grep -c '^Survey imputation, estimation and data exchange$' <<<"$output")" = 1 ] ||
  { echo "the banner is not shown exactly once"; exit 1; }
# The CSV holds a header and 5 completed copies of the 200 persons, no missing income.
csv="$2/demo/completed.csv"
[ "$(head -n 1 "$csv")" = "id,stratum,psu,weight,region,age,income,smoker,_MULT_" ] ||
  { echo "unexpected CSV header: $(head -n 1 "$csv")"; exit 1; }
[ "$(($(wc -l <"$csv") - 1))" = 1000 ] || { echo "the CSV does not hold 1000 rows"; exit 1; }
awk -F, 'NR > 1 && $7 == "" { exit 1 }' "$csv" || { echo "the CSV holds a missing income"; exit 1; }
grep -q "^All imputations" "$2/demo/means.lst" || { echo "the analysis listing has no combined results"; exit 1; }
echo "demo outputs complete"
