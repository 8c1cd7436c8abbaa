#!/usr/bin/env bash
# Line coverage of the library and the stand-in primitives by the test suite
# (gcov). Builds the "coverage" preset and runs every test, and builds the
# "coverage-faults" preset (the same with libfiu's fault points) and runs
# the fault-injection table, whose rows reach the paths of failing system
# calls; a line counts as reached when either run reached it. Prints each
# source's figure, the lines no test reached, and the total. Each build
# lists the objects to report, one a line, in coverage-objects.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
builds=(coverage coverage-faults)
report=$(mktemp -d)
trap 'rm -rf "$report"' EXIT
for preset in "${builds[@]}"; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    find "build/$preset" -name '*.gcda' -delete
    ctest --preset "$preset" >/dev/null
done

# gcov's lines of each source in each build: "LINE 1" reached, "LINE 0" not,
# and the source line itself beside, in $report/<source>.lines.
for preset in "${builds[@]}"; do
    mkdir -p "$report/$preset"
    while read -r object; do
        (cd "$report/$preset" && gcov -o "$object" "$object" >summary.txt 2>/dev/null)
        source=$(sed -n "s|^File '\($root/[^']*\.cpp\)'\$|\1|p" "$report/$preset/summary.txt" | head -n 1)
        name=${source#"$root"/}
        echo "$name" >>"$report/$preset.sources"
        sed -nE 's/^ *([0-9]+\*?|#####|=====): *([0-9]+):(.*)$/\2 \1 \3/p' \
            "$report/$preset/$(basename "$source").gcov" |
            awk '{ reached = ($2 ~ /^[0-9]/); line = $1; $1 = ""; $2 = ""; print line, reached, substr($0, 3) }' \
                >>"$report/${name//\//_}.lines"
    done <"build/$preset/coverage-objects.txt"
done

total_run=0
total_lines=0
while read -r name; do
    merged=$(awk '{ line = $1; reached = $2; $1 = ""; $2 = ""
                    if (!(line in best) || reached) best[line] = reached
                    if (!(line in text)) text[line] = substr($0, 3) }
                  END { for (line in best) print line "\t" best[line] "\t" text[line] }' \
        "$report/${name//\//_}.lines" | sort -n)
    run=$(awk -F'\t' '$2 == 1' <<<"$merged" | wc -l)
    lines=$(grep -c . <<<"$merged" || true)
    total_run=$((total_run + run))
    total_lines=$((total_lines + lines))
    awk -v f="$name" -v r="$run" -v n="$lines" \
        'BEGIN { printf "%s: %.2f%% of %d lines\n", f, n ? 100 * r / n : 100, n }'
    if [ "$run" -lt "$lines" ]; then
        echo "  lines no test reached:"
        awk -F'\t' '$2 == 0 { printf "    %d: %s\n", $1, $3 }' <<<"$merged"
    fi
done < <(awk '!seen[$0]++' "$report/${builds[0]}.sources")
awk -v r="$total_run" -v n="$total_lines" \
    'BEGIN { printf "total: %.2f%% of %d lines\n", n ? 100 * r / n : 100, n }'
