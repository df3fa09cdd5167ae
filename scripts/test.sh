#!/usr/bin/env bash
# Fresh machine to passing tests: installs missing packages, builds, runs every test (window
# tests under a virtual X server when there is no display), then a short fuzzing run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
run=()
if [[ -z "${DISPLAY:-}" ]]; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp")
fi
"${run[@]}" ctest --test-dir "$BUILD_DIR" --output-on-failure -j "${JOBS:-2}" --timeout 300
if [[ "${SKIP_FUZZ:-0}" != 1 && -x "$root/scripts/fuzz.sh" ]]; then
    "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}"
fi
