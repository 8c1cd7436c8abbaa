#!/usr/bin/env bash
# Line coverage of the library and the stand-in primitives by the test suite
# (gcov). Builds the "coverage" preset, runs every test, prints the figures
# and every line no test reached.
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
status=0
for pair in "quorvel:quorvel/quorvel.cpp" "quorvel_primitives:primitives/primitives.cpp"; do
    target=${pair%%:*} source=${pair#*:}
    objects="$root/$build/CMakeFiles/$target.dir/$(dirname "$source")"
    (cd "$report" && gcov -o "$objects/$(basename "$source").o" "$root/$source" >"$report/$target.txt")
    summary=$(grep -A1 "File '$root/$source'" "$report/$target.txt" | tail -n 1)
    echo "$source: ${summary#Lines executed:}"
    gcov_file="$report/$(basename "$source").gcov"
    if grep -q '#####' "$gcov_file"; then
        echo "  lines no test reached:"
        grep '#####' "$gcov_file" | sed 's/^ *#####: */    /'
    fi
done
