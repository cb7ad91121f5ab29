#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer in its
# own build directory and runs the whole test suite there. Any sanitizer report fails
# the test that caused it: undefined behaviour aborts, and leaks are reported at exit
# (only the offscreen platform plugin's screen is suppressed, see tests/lsan-suppressions.txt).
#
# With clang the same build also holds the fuzz targets, so that
#   scripts/test-sanitized.sh && BUILD_DIR=build-sanitize scripts/fuzz.sh
# compiles the controller's library only once for both.
#
# Environment: BUILD_DIR (default build-sanitize), CXX (default clang++).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-sanitize}
compiler=${CXX:-clang++}
fuzz=OFF
if "$compiler" --version 2>/dev/null | grep -q clang; then
    fuzz=ON
fi
start=$(date +%s)
# Debug keeps Qt's own range checks (Q_ASSERT in QByteArray::at and the like) active.
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_CXX_COMPILER="$compiler" \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DSABLEFOLD_SANITIZE=ON -DSABLEFOLD_FUZZ="$fuzz" -DSABLEFOLD_BENCHMARKS=OFF
cmake --build "$build" --parallel "$(nproc)"
built=$(date +%s)

export ASAN_OPTIONS="detect_leaks=1:strict_init_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
# Real-time tests share two cores with the sanitizer runtime here: one that fails is
# run once more, so only a fault that repeats fails the build.
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --repeat until-pass:2 || status=$?
echo "sanitized build: $(( built - start )) s, tests: $(( $(date +%s) - built )) s"
exit $status
