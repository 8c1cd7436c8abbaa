#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each for SECONDS
# (default 30) from a scratch copy of its seed corpus, with its dictionary
# (when it has one) and the options targets.txt gives it. Prints each
# target's executions and speed; exits non-zero on a finding.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
targets=("$@")
cd "$root"
declare -A target_options
listed=()
while read -r name options; do
    listed+=("$name")
    target_options[$name]=$options
done <fuzz/targets.txt
[ ${#targets[@]} -gt 0 ] || targets=("${listed[@]}")
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# ASan keeps 256 MiB of freed memory in quarantine by default, which a
# target's own -rss_limit_mb would count against it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}
total=0
for name in "${targets[@]}"; do
    mkdir -p "$work/$name"
    cp -r "fuzz/corpus/$name/." "$work/$name/"
    log="$work/$name.log"
    dict=()
    [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
    # shellcheck disable=SC2086 # the options are words
    if ! "build/fuzz/fuzz/fuzz_$name" "$work/$name" "${dict[@]}" -max_len=110000 \
        -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
        ${target_options[$name]:-} >"$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz_$name: FINDING; the crashing input is kept in $work"
        trap - EXIT
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    share=$(grep '^fuzz_run:' "$log" | tail -n 1 || true)
    echo "fuzz_$name: $runs executions in ${seconds}s ($speed/s), no finding ${share:+- $share}"
    total=$((total + runs))
done
echo "fuzzing: $total executions in total, no finding"
