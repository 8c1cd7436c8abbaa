#!/usr/bin/env bash
# Runs Debian's Chromium headless, with a profile of its own and without the
# background connections a closed network refuses, on the given arguments
# (a URL and --screenshot=FILE or --dump-dom, say). Exits 77 with a message
# when Chromium is not installed (tools/install-deps.sh ci brings it).
# Usage: tools/headless-chromium.sh ARG...
set -euo pipefail
if ! command -v chromium >/dev/null; then
    echo "headless-chromium: chromium is not installed (apt-get install chromium)" >&2
    exit 77
fi
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
    --user-data-dir="$profile" "$@" 2>/dev/null
