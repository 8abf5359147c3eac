#!/usr/bin/env bash
# Runs every benchmark that the build made, bootdesign on a large design, stagedata on a million
# observations against a plain copy, then impute side by side with R mice and describe side by
# side with R survey.
# Usage: scripts/bench.sh BUILD_DIR   (IMPUTE_CASES sets the cases of the impute run, default
# 100000; MICE=0 times impute alone; DESCRIBE_CASES the cases of the describe run, default
# 1000000; SURVEY=0 times describe alone)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
for bench in "$build"/bench/*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench"
done
if [ -x "$build/bin/bootdesign" ]; then
  echo "== bootdesign"
  bash "$(dirname "$0")/../bench/bootdesign/bench_bootdesign.sh" "$build"
fi
if [ -x "$build/bin/stagedata" ]; then
  echo "== stagedata"
  bash "$(dirname "$0")/../bench/stagedata/bench_stagedata.sh" "$build"
fi
if [ -x "$build/bin/impute" ]; then
  echo "== impute_vs_mice"
  bash "$(dirname "$0")/../bench/impute/impute_vs_mice.sh" "$build" "${IMPUTE_CASES:-100000}"
fi
if [ -x "$build/bin/describe" ]; then
  echo "== describe_vs_survey"
  bash "$(dirname "$0")/../bench/describe/describe_vs_survey.sh" "$build" "${DESCRIBE_CASES:-1000000}"
fi
