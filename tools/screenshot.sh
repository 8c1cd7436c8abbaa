#!/usr/bin/env bash
# For maintainers: renders the example exercise's HTML preview with headless
# Chromium (Debian package "chromium") into docs/preview.png for the README.
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build/example)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/example}
cd "$root"
cmake --workflow --preset example >/dev/null
page="$build/examples/hello_exercise.html"
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
    --user-data-dir="$profile" --window-size=560,480 \
    --screenshot="$root/docs/preview.png" "file://$page"
echo "wrote docs/preview.png"
