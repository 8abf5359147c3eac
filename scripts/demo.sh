#!/usr/bin/env bash
# Runs the shipped example through the built programs. Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -x "$build/bin/ambrel" ] && [ -f examples/demo/job.set ]; then
  cp -r examples/demo/. "$work/"
  "$build/bin/ambrel" "$work/job.set" || status=$?
  cat "$work/job.log"
  exit "${status:-0}"
fi
echo "Built programs:"
ls "$build/bin"
