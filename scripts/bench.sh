#!/usr/bin/env bash
# Runs every benchmark that the build made. Usage: scripts/bench.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
for bench in "$build"/bench/*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  echo "== $(basename "$bench")"
  "$bench"
done
