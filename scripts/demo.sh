#!/usr/bin/env bash
# Runs the shipped example through the built programs and keeps every output in BUILD_DIR/demo:
# the command driver runs the whole job (job.set): it imports the sample, imputes its missing
# incomes 5 times and writes the completed data as a CSV file; then the analysis (analysis.set):
# design-based means, shares and contrasts over 5 imputations. Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -r "$source_dir/examples/demo/." "$demo/"
cd "$demo"

# The driver runs quietly; the logs are shown afterwards, the banner once.
status=0
"$build/bin/ambrel" job.set /batch || status=$?
"$build/bin/ambrel" analysis.set /batch || status=$?

cat job.log
echo "The import's log (sample.log), after its banner:"
sed -n '/Begin Getdata execution/,$p' sample.log
echo
echo "The checker's, the imputation's and the export's log (check.log), after its banner:"
sed -n '/Begin setup checking/,/Mult 1, Iter 1/p' check.log
echo "  ..."
sed -n '/Output data/,$p' check.log
echo
echo "The first lines of completed.csv:"
head -n 6 completed.csv
echo
echo "The analysis (means.lst): mean income in the first region, combined over the 5 imputations:"
awk '/^All imputations/ { found = 1 } found && /Mean      Number of/ { print; getline; print; getline; print; exit }' means.lst
echo
echo "Outputs, in $demo:"
echo "  sample.met, sample.dat  the imported standard dataset (metadata and data)"
echo "  sample.lst, sample.log  the import's listing and log"
echo "  job.log                 the driver's log"
echo "  check.ctl               the control file the checker wrote for the procedures"
echo "  check.cor               the imputed values of the 5 multiples"
echo "  check.lst, check.log    the listing and log of the checker, the imputation and the export"
echo "  completed.met, .dat     the 5 completed copies of the data, stacked (standard dataset)"
echo "  completed.csv           the same as a CSV file, one line per person and multiple"
echo "  analysis.log            the driver's log of the analysis"
echo "  means.lst, means.log    the analysis listing (means, shares, contrasts) and its log"
echo "  means.est, means.out    the estimates and the getdata setup that loads them"
exit "$status"
