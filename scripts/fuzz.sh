#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each one for a while from its seed corpus in fuzz/corpus/<name>. Fails on any
# crash, leak, sanitizer report, per-input timeout or memory blow-up.
#
#   scripts/fuzz.sh                       every target, about a minute in all (CI)
#   scripts/fuzz.sh --seconds 600 kipport one target for ten minutes
#   scripts/fuzz.sh --runs 100000         every target for a number of inputs each
#   scripts/fuzz.sh --work-dir DIR        keep the grown corpora in DIR/<name> across runs
#   scripts/fuzz.sh --make-corpus         write fuzz/corpus again from the seed generator
#   scripts/fuzz.sh --no-build            run the targets as they are in the build directory
#   scripts/fuzz.sh --list                name the targets
#
# Environment: BUILD_DIR (default build-fuzz), CXX (default clang++).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=7
runs=
work_dir=
make_corpus=0
no_build=0
list=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; runs=; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --work-dir) work_dir=$2; shift 2 ;;
        --make-corpus) make_corpus=1; shift ;;
        --no-build) no_build=1; shift ;;
        --list) list=1; shift ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) targets+=("$1"); shift ;;
    esac
done

all_targets=()
for source in fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    all_targets+=("${name#fuzz_}")
done
if [ "$list" = 1 ]; then
    printf '%s\n' "${all_targets[@]}"
    exit 0
fi
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

build=${BUILD_DIR:-build-fuzz}
# Debug keeps Qt's own range checks (Q_ASSERT in QByteArray::at and the like) active in
# the controller's code, so an index past the end aborts even inside the allocation.
if [ "$no_build" = 0 ]; then
    cmake -S . -B "$build" -G Ninja \
        -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
        -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DSABLEFOLD_FUZZ=ON -DSABLEFOLD_BENCHMARKS=OFF >/dev/null
    build_targets=()
    for target in "${targets[@]}"; do build_targets+=("fuzz_$target"); done
    [ "$make_corpus" = 0 ] || build_targets+=(make_fuzz_corpus)
    cmake --build "$build" --target "${build_targets[@]}"
fi

if [ "$make_corpus" = 1 ]; then
    rm -rf fuzz/corpus
    "$build/fuzz/make_fuzz_corpus" fuzz/corpus
fi

# Leaks are checked after every input. Only the platform libraries' own leaks are
# suppressed (fuzz/lsan-suppressions.txt), none of the controller's.
export LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan-suppressions.txt:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

artifacts="$PWD/$build/fuzz-artifacts"
mkdir -p "$artifacts"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=()
summary=()
for target in "${targets[@]}"; do
    seeds="fuzz/corpus/$target"
    if [ -n "$work_dir" ]; then
        corpus="$work_dir/$target"
    else
        corpus="$scratch/$target"
    fi
    mkdir -p "$corpus" "$artifacts/$target"
    limit=(-max_total_time="$seconds")
    [ -z "$runs" ] || limit=(-runs="$runs")
    log="$artifacts/$target/last-run.log"
    start=$(date +%s)
    echo "== fuzz_$target: ${runs:+$runs runs}${runs:-$seconds s}"
    if "$build/fuzz/fuzz_$target" "${limit[@]}" -timeout=10 -rss_limit_mb=2560 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target/" "$corpus" "$seeds" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed+=("$target")
        grep -E "ERROR|SUMMARY|runtime error|FATAL|differs|not stable|#[0-9]+ 0x" "$log" | head -40 || true
    fi
    done_line=$(grep -E "^#[0-9]+ +DONE" "$log" | tail -1 || true)
    [ -n "$done_line" ] || done_line=$(grep -E "^#[0-9]+" "$log" | tail -1 || true)
    executed=$(grep -E "stat::number_of_executed_units" "$log" | tail -1 | awk '{print $2}' || true)
    cov=$(echo "$done_line" | sed -nE 's/.*cov: ([0-9]+).*/\1/p')
    ft=$(echo "$done_line" | sed -nE 's/.*ft: ([0-9]+).*/\1/p')
    summary+=("$(printf '%-16s %-6s runs %-9s cov %-5s ft %-6s %4ss' "$target" "$status" "${executed:-?}" "${cov:-?}" "${ft:-?}" "$(( $(date +%s) - start ))")")
done

echo
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found faults in: ${failed[*]} (inputs and logs in $artifacts)" >&2
    exit 1
fi
