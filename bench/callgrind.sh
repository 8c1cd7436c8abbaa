#!/usr/bin/env bash
# Instruction counts (valgrind --tool=callgrind) for the benchmark goals:
#   boxes:   a run that fills the document area (270 checks) against one that
#            only calls init and quit; and the cost of one box at box 270
#            against box 27.
#   zandrel: the generator against a plain C version that writes each
#            character with fputc.
# Usage: callgrind.sh BOX_EXERCISE ZANDREL ZANDREL_PLAIN
#        callgrind.sh --compare BOX_EXERCISE BASE_BOX_EXERCISE
# The second form measures two builds of the box exercise in one run and
# prints this build's costs against the base's (bench/compare.sh uses it).
# Instruction counts are repeatable on a busy machine, unlike wall time.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions of one run of "$@", standard input from $work/input.
instructions() {
    (cd "$work" && valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" \
        <"$work/input" >/dev/null 2>"$work/valgrind.log")
    sed -n 's/^summary: //p' "$work/cg.out"
}

# "INIT_QUIT PER_BOX_AT_27 PER_BOX_AT_270 FULL_RUN" of a box exercise.
box_figures() {
    printf 'message_id: 1\n---\n' >"$work/input"
    local -A boxes
    for n in 0 17 37 260 270; do
        boxes[$n]=$(instructions "$1" "$n")
    done
    awk -v e="${boxes[0]}" -v a="${boxes[17]}" -v b="${boxes[37]}" -v c="${boxes[260]}" \
        -v d="${boxes[270]}" 'BEGIN { printf "%d %.1f %.1f %d\n", e, (b - a) / 20, (d - c) / 10, d }'
}

if [ "${1:-}" = "--compare" ]; then
    read -r new_e new_early new_late _ < <(box_figures "$(realpath "$2")")
    read -r old_e old_early old_late _ < <(box_figures "$(realpath "$3")")
    awk -v ne="$new_e" -v oe="$old_e" -v n1="$new_early" -v o1="$old_early" -v n2="$new_late" \
        -v o2="$old_late" 'BEGIN {
        printf "%-22s %14s %14s %8s\n", "", "this build", "base", "ratio"
        printf "%-22s %14d %14d %8.4f\n", "init+quit", ne, oe, ne / oe
        printf "%-22s %14.1f %14.1f %8.4f\n", "per box at 27", n1, o1, n1 / o1
        printf "%-22s %14.1f %14.1f %8.4f\n", "per box at 270", n2, o2, n2 / o2
    }'
    exit 0
fi

read -r e early late full < <(box_figures "$(realpath "$1")")
echo "boxes: init+quit only      $e instructions"
echo "boxes: 270 checks          $full instructions"
awk -v e="$e" -v f="$full" -v early="$early" -v late="$late" 'BEGIN {
    printf "boxes: full / empty run    %.3f (goal <= 2)\n", f / e
    printf "boxes: per box at 27       %.0f instructions\n", early
    printf "boxes: per box at 270      %.0f instructions\n", late
    printf "boxes: box 270 / box 27    %.3f (goal <= 2)\n", late / early
}'

: >"$work/input"
z=$(instructions "$(realpath "$2")")
p=$(instructions "$(realpath "$3")")
echo "zandrel:                   $z instructions"
echo "plain fputc version:       $p instructions"
awk -v z="$z" -v p="$p" 'BEGIN { printf "zandrel / plain            %.3f (goal <= 0.9)\n", z / p }'
