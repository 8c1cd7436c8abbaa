#!/usr/bin/env bash
# Measures the box benchmark of the working tree against revision REV, both
# built here and measured in one run: instructions for init+quit and per box,
# this build against the base, with their ratios.
# Usage: bench/compare.sh REV
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:?usage: bench/compare.sh REV}
work=$(mktemp -d)
cleanup() {
    git -C "$root" worktree remove --force "$work/base" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
git -C "$root" worktree add --detach -q "$work/base" "$rev"
options=(-DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_EXAMPLES=OFF
    -DQUORVEL_BUILD_VIEWER=OFF -DQUORVEL_BUILD_BENCH=ON)
cmake -S "$work/base" -B "$work/base-build" "${options[@]}" >/dev/null
cmake --build "$work/base-build" --target box_exercise -j 2 >/dev/null
cmake -S "$root" -B "$work/build" "${options[@]}" >/dev/null
cmake --build "$work/build" --target box_exercise -j 2 >/dev/null
echo "base: $(git -C "$root" rev-parse --short "$rev"), this build: the working tree"
"$root/bench/callgrind.sh" --compare "$work/build/bench/box_exercise" "$work/base-build/bench/box_exercise"
