#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer and the address and undefined-behaviour
# sanitizers in a build folder of their own, and runs each for a bounded time on a copy of its
# seed corpus. Fails when a run finds a crash, a leak or undefined behaviour.
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${JOBS:-2}
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
    -DVEDEREVE_BUILD_FUZZ=ON -DVEDEREVE_BUILD_TESTS=OFF -DVEDEREVE_BUILD_BENCH=OFF \
    -DVEDEREVE_WERROR=OFF >/dev/null
cmake --build "$build" --target fuzz_update_participant fuzz_camera_frame -j "$jobs"

work=$(mktemp -d)
prefix="/vedereve-fuzz-$$-"
cleanup() {
    rm -rf "$work"
    # Whatever a crashed run left in the private shm namespace.
    rm -f /dev/shm/"${prefix#/}"* 2>/dev/null || true
}
trap cleanup EXIT

status=0
for target in update_participant camera_frame; do
    corpus="$work/$target"
    mkdir -p "$corpus" "$work/artifacts"
    cp "$root/fuzz/corpus/$target/"* "$corpus/"
    echo "fuzzing $target for ${seconds}s"
    # Decoders complain about every broken picture; that is the point here, not news.
    if ! QT_QPA_PLATFORM=offscreen VEDEREVE_SHM_PREFIX="$prefix" QT_LOGGING_RULES="*.warning=false" \
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
            -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$corpus"; then
        echo "fuzz_$target found a problem; inputs kept in $build/findings/" >&2
        mkdir -p "$build/findings"
        cp "$work/artifacts/"* "$build/findings/" 2>/dev/null || true
        status=1
    fi
done
exit $status
