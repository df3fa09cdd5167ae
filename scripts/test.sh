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
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"${run[@]}" ctest --test-dir "$BUILD_DIR" --output-on-failure -j "${JOBS:-2}" --timeout 300 \
    | tee "$log" || status=$?
if [[ "${SKIP_FUZZ:-0}" != 1 && -x "$root/scripts/fuzz.sh" ]]; then
    "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}" || status=1
fi
# The test counts last, so that they close the output whatever ran after ctest.
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
if [[ -n "$total" && -n "$failed" ]]; then
    echo "ctest: $((total - failed)) passed, $failed failed"
fi
exit $status
