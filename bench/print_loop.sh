#!/usr/bin/env bash
# The footprint of an exercise that prints without end: every 0.1 s for 2 s,
# the blocks on disk behind its standard output (/proc/PID/fd/1) and its
# resident memory; then the host stops it (SIGTERM) and the bytes that
# reached standard output and standard error are counted.
# Usage: bench/print_loop.sh SCRIPTED_EXERCISE   (build/default/tests/scripted_exercise)
set -euo pipefail
exercise=$(realpath "${1:?usage: bench/print_loop.sh SCRIPTED_EXERCISE}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'message_id: 1\n---\n' >"$work/in"
"$exercise" @null @null int:1:1 print-loop <"$work/in" >"$work/out" 2>"$work/err" &
pid=$!
most_blocks=0
most_rss=0
for _ in $(seq 20); do
    sleep 0.1
    blocks=$(stat -L -c %b "/proc/$pid/fd/1" 2>/dev/null || echo 0)
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "$blocks" -gt "$most_blocks" ] && most_blocks=$blocks
    [ "$rss" -gt "$most_rss" ] && most_rss=$rss
done
echo "fd 1 of the running exercise: $(readlink "/proc/$pid/fd/1")"
kill -TERM "$pid"
wait "$pid" || true
echo "most blocks behind fd 1:  $most_blocks (512-byte blocks)"
echo "most resident memory:     $most_rss KiB"
echo "standard output (stream): $(wc -c <"$work/out") bytes"
echo "standard error:           $(wc -c <"$work/err") bytes"
