#!/usr/bin/env bash
# Line coverage of the library and the stand-in primitives by the test suite
# (gcov). Builds the "coverage" preset, runs every test, prints the figures
# and every line no test reached. The build lists the objects to report in
# coverage-objects.txt.
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
while read -r source object; do
    (cd "$report" && gcov -o "$object" "$source" >"$report/summary.txt")
    summary=$(grep -A1 "File '$source'" "$report/summary.txt" | tail -n 1)
    echo "${source#"$root"/}: ${summary#Lines executed:}"
    gcov_file="$report/$(basename "$source").gcov"
    if grep -q '#####' "$gcov_file"; then
        echo "  lines no test reached:"
        grep '#####' "$gcov_file" | sed 's/^ *#####: */    /'
    fi
done <"$build/coverage-objects.txt"
