#!/usr/bin/env bash
# The server's test build on a camera profile, driven from outside: the demo host, a parent over
# the bus, presses Play in both of its panels. The first panel runs on the profile's camera
# through the real Video4Linux driver code, the second on a virtual camera; the run fails unless
# each panel showed the other's pictures.
#   profile-server-test.sh BUILD_DIR PROFILE [SECONDS]
set -euo pipefail
build=$1
profile=$2
seconds=${3:-5}
work=$(mktemp -d)
prefix="/vedereve-profile-$$-"
cleanup() {
    rm -rf "$work"
    rm -f /dev/shm/"${prefix#/}"*
}
trap cleanup EXIT
export VEDEREVE_CAMERA_PROFILES=$profile
export VEDEREVE_VIRTUAL_CAMERAS="rgb24@176x144,name=Virtual camera A"
export VEDEREVE_PIPEWIRE=off
export VEDEREVE_REGISTRY=$work/registry.sqlite
export VEDEREVE_SHM_PREFIX=$prefix
run=(dbus-run-session -- "$build/bin/vedereve-demo" --server "$build/bin/VE_DerEve_profiles"
    --output "$work/out" --seconds "$seconds" --press-play)
if [[ -z "${DISPLAY:-}" ]]; then
    run=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${run[@]}")
fi
status=0
"${run[@]}" || status=$?
cat "$work/out/summary.txt" 2>/dev/null || true
grep -h "camera\|Play\|first" "$work/out/events.log" 2>/dev/null | head -20 || true
exit $status
