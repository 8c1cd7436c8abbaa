#!/usr/bin/env bash
# Line coverage of the library and the stand-in primitives by the test suite
# (gcov). Builds the "coverage" preset, runs every test, and prints each
# source's figure, the lines no test reached, and the total. The build lists
# the objects to report, one a line, in coverage-objects.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage >/dev/null
find "$build" -name '*.gcda' -delete
ctest --preset coverage >/dev/null
report=$(mktemp -d)
trap 'rm -rf "$report"' EXIT
total_run=0
total_lines=0
while read -r object; do
    (cd "$report" && gcov -o "$object" "$object" >"$report/summary.txt" 2>/dev/null)
    source=$(sed -n "s|^File '\($root/[^']*\.cpp\)'\$|\1|p" "$report/summary.txt" | head -n 1)
    gcov_file="$report/$(basename "$source").gcov"
    run=$(grep -cE '^ *[0-9]+\*?:' "$gcov_file" || true)
    missed=$(grep -cE '^ *(#####|=====):' "$gcov_file" || true)
    lines=$((run + missed))
    total_run=$((total_run + run))
    total_lines=$((total_lines + lines))
    awk -v f="${source#"$root"/}" -v r="$run" -v n="$lines" \
        'BEGIN { printf "%s: %.2f%% of %d lines\n", f, n ? 100 * r / n : 100, n }'
    if [ "$missed" -gt 0 ]; then
        echo "  lines no test reached:"
        grep -E '^ *(#####|=====):' "$gcov_file" | sed -E 's/^ *(#####|=====): */    /'
    fi
done <"$build/coverage-objects.txt"
awk -v r="$total_run" -v n="$total_lines" \
    'BEGIN { printf "total: %.2f%% of %d lines\n", n ? 100 * r / n : 100, n }'
