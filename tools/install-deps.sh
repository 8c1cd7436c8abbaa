#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is
# missing. Does nothing on a machine that already has everything.
set -euo pipefail
packages=()
command -v cmake >/dev/null || packages+=(cmake)
command -v g++ >/dev/null || packages+=(g++)
command -v clang++ >/dev/null || packages+=(clang)
command -v pkg-config >/dev/null || packages+=(pkg-config)
[ -f /usr/include/yaml.h ] || packages+=(libyaml-dev)
[ -d /usr/lib/x86_64-linux-gnu/cmake/GTest ] || [ -d /usr/lib/cmake/GTest ] || packages+=(libgtest-dev libgmock-dev)
if [ "${1:-}" = "--bench" ]; then
    [ -d /usr/lib/x86_64-linux-gnu/cmake/benchmark ] || packages+=(libbenchmark-dev)
    command -v valgrind >/dev/null || packages+=(valgrind)
fi
if [ ${#packages[@]} -gt 0 ]; then
    echo "installing: ${packages[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q "${packages[@]}"
fi
