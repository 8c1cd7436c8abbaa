#!/usr/bin/env bash
# For maintainers: renders the example exercises' HTML previews with headless
# Chromium (Debian package "chromium") for the README: docs/preview.png (the
# example exercise) and docs/crash-preview.png (an exercise that crashes).
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build/example)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/example}
cd "$root"
cmake --workflow --preset example >/dev/null
cmake --build "$build" --target run_crashing_example >/dev/null
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
shoot() {  # PAGE PNG WIDTH,HEIGHT
    chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
        --disable-component-update --disable-sync --no-first-run --hide-scrollbars \
        --user-data-dir="$profile" --window-size="$3" \
        --screenshot="$root/docs/$2" "file://$build/examples/$1" 2>/dev/null
    echo "wrote docs/$2"
}
shoot hello_exercise.html preview.png 560,480
shoot crashing_exercise.html crash-preview.png 640,300
