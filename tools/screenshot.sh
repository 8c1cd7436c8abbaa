#!/usr/bin/env bash
# For maintainers: renders the example exercises' HTML previews with headless
# Chromium (Debian package "chromium") for the README: docs/preview.png (the
# example exercise), docs/crash-preview.png (an exercise that crashes) and
# docs/labels-preview.png (checks with long labels).
# Usage: tools/screenshot.sh [BUILD_DIR]   (default: build/example)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/example}
cd "$root"
cmake --workflow --preset example >/dev/null
cmake --build "$build" --target run_crashing_example labels_exercise >/dev/null
shoot() {  # PAGE PNG WIDTH,HEIGHT
    tools/headless-chromium.sh --window-size="$3" --screenshot="$root/docs/$2" "file://$1"
    echo "wrote docs/$2"
}
shoot "$build/examples/hello_exercise.html" preview.png 560,480
shoot "$build/examples/crashing_exercise.html" crash-preview.png 1000,280
"$build/view/quorvel-view" --run --html "$build/examples/labels_exercise.html" \
    -- "$build/examples/labels_exercise" >/dev/null
shoot "$build/examples/labels_exercise.html" labels-preview.png 1100,330
