#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite:
#   1. the normal build (g++) and its tests,
#   2. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer (clang),
#      together with the fuzz targets, whose seed inputs run as tests there,
#   3. a short run of every fuzz target (about a minute in all).
# ./test.sh --quick runs only the first.
set -euo pipefail
cd "$(dirname "$0")"

quick=0
[ "${1:-}" = "--quick" ] && quick=1

scripts/install-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)"
# The end-to-end tests spend their time waiting on the card's own timers, not on the
# processor: twice as many at once as there are cores keeps the wait short.
ctest --test-dir "$build" --output-on-failure --parallel "$(( $(nproc) * 2 ))"

if [ "$quick" = 1 ]; then
    exit 0
fi

BUILD_DIR=build-sanitize scripts/test-sanitized.sh
BUILD_DIR=build-sanitize scripts/fuzz.sh --no-build
