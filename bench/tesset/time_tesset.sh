#!/usr/bin/env bash
# Times the setup checker on a dataset of 5,000 variables with setups that name every one of
# them: type lists, a MAXPRED group, DIAGNOSE, and (second setup) BOUNDS on 500 variables, which
# adds a 4,000 x 4,000 dependency matrix. Usage: bench/tesset/time_tesset.sh [build folder]
set -euo pipefail
build=${1:-build}
tesset=$(cd "$build/bin" && pwd)/tesset
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

{
  echo "standard;"
  echo "variables;"
  for ((i = 0; i < 5000; ++i)); do printf 'name=var%05d width=4;\n' "$i"; done
} > big.met

names() { for ((i = $1; i < $2; ++i)); do printf ' var%05d' "$i"; done; }
{
  echo "datain big;"
  echo "categorical$(names 0 1000);"
  echo "mixed$(names 1000 2000);"
  echo "transfer$(names 2000 3000);"
  echo "maxpred$(names 3000 4000) (4);"
  echo "diagnose$(names 4000 5000);"
} > lists.txt
{ cat lists.txt; echo "run;"; } > lists.set
{ cat lists.txt; echo "bounds$(names 3000 3500) (> 0, < var04999);"; echo "run;"; } > bounds.set

for setup in lists bounds; do
  best=""
  for ((round = 0; round < 5; ++round)); do
    start=$(date +%s%N)
    "$tesset" "$setup.set" /batch
    elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
    if [[ -z "$best" || $elapsed -lt $best ]]; then best=$elapsed; fi
  done
  echo "$setup: best of 5 runs ${best} ms, control file $(stat -c %s "$setup.ctl") bytes"
done
