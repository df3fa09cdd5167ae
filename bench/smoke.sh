#!/usr/bin/env bash
# Runs a benchmark program briefly, as a test: every benchmark must run to its end, none may
# report an error (a benchmark that fails a step stops with an error and the program still exits 0).
set -uo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"; rm -f /dev/shm/vedereve-bench-smoke-$$-* 2>/dev/null' EXIT
# The output goes to a file: a child the program left running cannot hold this script open.
VEDEREVE_SHM_PREFIX="/vedereve-bench-smoke-$$-" VEDEREVE_REGISTRY="$work/registry.sqlite" \
    QT_QPA_PLATFORM=offscreen "$@" --benchmark_min_time=0.01 >"$work/out" 2>&1
status=$?
out=$(<"$work/out")
if [[ $status -ne 0 ]] || grep -q 'ERROR OCCURRED' <<<"$out"; then
    grep -v 'does not support raise' <<<"$out"
    echo "FAIL: $1 exited $status or a benchmark reported an error"
    exit 1
fi
grep -c '^BM_' <<<"$out" | sed 's/^/benchmarks run: /'
