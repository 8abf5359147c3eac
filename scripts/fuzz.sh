#!/usr/bin/env bash
# Runs fuzz targets of a fuzz build one after another, each for a given time, and prints for each
# its executions, coverage (edges) and corpus size. New inputs go to <build>/corpus/<target>/,
# seeded from the committed tests/fuzz/corpus/<target>/; a finding is written to
# <build>/findings/<target>/ and makes the script fail at the end.
# Usage: scripts/fuzz.sh BUILD SECONDS TARGET...
set -uo pipefail

build=$1
seconds=$2
shift 2
source_root=$(cd "$(dirname "$0")/.." && pwd)
failed=()

printf '%-11s %12s %7s %7s  %s\n' target executions edges corpus result
for target in "$@"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=512 -timeout=1 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$source_root/tests/fuzz/corpus/$target" \
    >"$log" 2>&1
  code=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+' "$log" | grep ' cov: ' | tail -n 1)
  edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  size=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  result=clean
  if [ "$code" -ne 0 ]; then
    result="finding (exit $code), see $log and $findings"
    failed+=("$target")
  fi
  printf '%-11s %12s %7s %7s  %s\n' "$target" "${executions:-?}" "${edges:-?}" "${size:-?}" "$result"
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
