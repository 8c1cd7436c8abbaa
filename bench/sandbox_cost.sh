#!/usr/bin/env bash
# What --sandbox costs a program over a plain run, for two viewers measured
# in one run (this one and a base, each with its quorvel-sandbox-helper
# beside it): 60 copies of a small green exercise checked at -j 1 and -j 2,
# plain and with --sandbox, best of three each; then 10 copies padded to a
# sanitizer build's size (8 MiB), which the sandbox copies whole.
# Usage: bench/sandbox_cost.sh VIEWER BASE_VIEWER [EXERCISE]
#   EXERCISE defaults to build/default/examples/hello_exercise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
viewers=("${1:?usage: bench/sandbox_cost.sh VIEWER BASE_VIEWER [EXERCISE]}" "${2:?a base viewer}")
exercise=${3:-$root/build/default/examples/hello_exercise}
runs=3
large_bytes=$((8 * 1024 * 1024))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/small" "$work/large"
for i in $(seq -w 1 60); do
    cp "$exercise" "$work/small/exercise_$i"
done
for i in $(seq -w 1 10); do
    cp "$exercise" "$work/large/exercise_$i"  # the loader ignores what follows the ELF image
    truncate -s "$large_bytes" "$work/large/exercise_$i"
done

# The best wall-clock seconds of $runs runs of a viewer's --check.
best_seconds() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        best=$(echo "$start $end ${best:-1e9}" | awk '{ t = $2 - $1; print (t < $3) ? t : $3 }')
    done
    echo "$best"
}

# A line per viewer and -j of the programs in directory $1.
measure() {
    local programs=("$1"/exercise_*)
    for j in 1 2; do
        for v in 0 1; do
            local viewer=${viewers[$v]} plain sandbox name
            plain=$(best_seconds "$viewer" --check -j "$j" "${programs[@]}")
            sandbox=$(best_seconds "$viewer" --check --sandbox -j "$j" "${programs[@]}")
            name=$([ "$v" -eq 0 ] && echo this || echo base)
            echo "$name $j $plain $sandbox" | awk -v n="${#programs[@]}" -v kind="$2" \
                '{ printf "%-6s %-8s %-4s %10.3f %10.3f %16.2f\n", kind, $1, $2, $3, $4, ($4 - $3) * 1000 / n }'
        done
    done
}

printf '%-6s %-8s %-4s %10s %10s %16s\n' size viewer jobs plain_s sandbox_s ms_per_program
measure "$work/small" small
measure "$work/large" 8MiB
