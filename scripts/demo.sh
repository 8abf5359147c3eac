#!/usr/bin/env bash
# Runs the shipped example through the built programs and keeps every output in BUILD_DIR/demo:
# the command driver imports the sample (job.set), the setup checker checks an imputation setup
# for it (check.set), and the imputation runs on what the checker wrote. Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -r "$source_dir/examples/demo/." "$demo/"
cd "$demo"

# Both programs run quietly; their logs are shown afterwards, the banner once.
status=0
"$build/bin/ambrel" job.set /batch || status=$?
"$build/bin/tesset" check.set /batch || status=$?
"$build/bin/impute" check.set /batch || status=$?

cat job.log
echo "The import's log (sample.log), after its banner:"
sed -n '/Begin Getdata execution/,$p' sample.log
echo
echo "The checker's and the imputation's log (check.log), after its banner:"
sed -n '/Begin setup checking/,/Mult 1, Iter 1/p' check.log
echo "  ..."
sed -n '/Output data/,$p' check.log
echo
echo "Outputs, in $demo:"
echo "  sample.met, sample.dat  the imported standard dataset (metadata and data)"
echo "  sample.lst, sample.log  the import's listing and log"
echo "  job.log                 the driver's log"
echo "  check.ctl               the control file the checker wrote for the procedures"
echo "  check.cor               the imputed values of the 5 multiples"
echo "  check.lst, check.log    the listing and log of the checker and the imputation"
exit "$status"
