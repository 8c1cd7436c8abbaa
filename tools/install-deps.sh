#!/usr/bin/env bash
# Installs what a scope needs from Debian's packages, when it is missing:
#
#   tools/install-deps.sh example   build the library and run the example
#                                   exercise in the previewer (libyaml,
#                                   CLI11 and libseccomp for the previewer)
#   tools/install-deps.sh tests     the above, and build and run the tests,
#                                   with prove, the python readers of the
#                                   previewer's reports, and libxml2 and
#                                   nlohmann-json that check them in the
#                                   fuzz target, groff for the manual pages,
#                                   and bubblewrap for --sandbox's tests
#                                   (the default)
#   tools/install-deps.sh bench     the tests' needs, and the benchmarks'
#   tools/install-deps.sh ci        everything .ci/run uses: the tests' needs,
#                                   clang with its sanitizer and libFuzzer
#                                   runtimes, valgrind, Chromium (a test
#                                   lays out the HTML preview with it), and
#                                   libfiu for the fault-injection table
#
# Says nothing and asks no package index when everything is there. Runs
# apt-get as root, through sudo otherwise; where neither can be done, prints
# the command to run and exits 1.
set -euo pipefail

example=(cmake make g++ pkg-config libyaml-dev libcli11-dev libseccomp-dev)
tests=("${example[@]}" libgtest-dev libgmock-dev perl python3-jsonschema python3-junitparser libxml2-dev
    nlohmann-json3-dev groff-base bubblewrap)
bench=("${tests[@]}" valgrind)
ci=("${bench[@]}" clang libclang-rt-14-dev chromium libfiu-dev fiu-utils)

scope=${1:-tests}
case "$scope" in
    example) wanted=("${example[@]}") ;;
    tests) wanted=("${tests[@]}") ;;
    bench | --bench) wanted=("${bench[@]}") ;;
    ci) wanted=("${ci[@]}") ;;
    *)
        echo "usage: tools/install-deps.sh [example|tests|bench|ci]" >&2
        exit 2
        ;;
esac

missing=()
for name in "${wanted[@]}"; do
    state=$(dpkg-query -W -f='${db:Status-Status}' "$name" 2>/dev/null || true)
    [ "$state" = "installed" ] || missing+=("$name")
done
[ ${#missing[@]} -gt 0 ] || exit 0

command="export DEBIAN_FRONTEND=noninteractive; apt-get update -qq && apt-get install -y -qq --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    run=(bash -c)
elif command -v sudo >/dev/null && { [ -t 0 ] || sudo -n true 2>/dev/null; }; then
    run=(sudo bash -c)
else
    echo "install-deps: missing ${missing[*]}; as root, run:" >&2
    echo "  apt-get update && apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "install-deps: installing ${missing[*]}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "${run[@]}" "$command" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "install-deps: the install failed; as root, run:" >&2
    echo "  apt-get update && apt-get install ${missing[*]}" >&2
    exit 1
fi
