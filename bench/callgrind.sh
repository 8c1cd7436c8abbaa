#!/usr/bin/env bash
# Instruction counts (valgrind --tool=callgrind) for the two benchmark goals:
#   boxes:   a run that fills the document area (270 checks) against one that
#            only calls init and quit; and the cost of one box at box 270
#            against box 27.
#   zandrel: the generator against a plain C version that writes each
#            character with fputc.
# Usage: callgrind.sh BOX_EXERCISE ZANDREL ZANDREL_PLAIN
# Instruction counts are repeatable on a busy machine, unlike wall time.
set -euo pipefail
box_exercise=$(realpath "$1") zandrel=$(realpath "$2") plain=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Total instructions of one run of "$@", standard input from $input.
instructions() {
    (cd "$work" && valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" \
        <"$work/input" >/dev/null 2>"$work/valgrind.log")
    sed -n 's/^summary: //p' "$work/cg.out"
}

printf 'message_id: 1\n---\n' >"$work/input"
declare -A boxes
for n in 0 17 27 37 260 270; do
    boxes[$n]=$(instructions "$box_exercise" "$n")
done
echo "boxes: init+quit only      ${boxes[0]} instructions"
echo "boxes: 270 checks          ${boxes[270]} instructions"
awk -v e="${boxes[0]}" -v f="${boxes[270]}" -v a="${boxes[17]}" -v b="${boxes[37]}" \
    -v c="${boxes[260]}" -v d="${boxes[270]}" 'BEGIN {
    printf "boxes: full / empty run    %.3f (goal <= 2)\n", f / e
    early = (b - a) / 20; late = (d - c) / 10
    printf "boxes: per box at 27       %.0f instructions\n", early
    printf "boxes: per box at 270      %.0f instructions\n", late
    printf "boxes: box 270 / box 27    %.3f (goal <= 2)\n", late / early
}'

: >"$work/input"
z=$(instructions "$zandrel")
p=$(instructions "$plain")
echo "zandrel:                   $z instructions"
echo "plain fputc version:       $p instructions"
awk -v z="$z" -v p="$p" 'BEGIN { printf "zandrel / plain            %.3f (goal <= 0.9)\n", z / p }'
