#!/usr/bin/env bash
# Fresh machine to the component running in the demo conferencing host: two participants on one
# desktop, each panel showing the other's camera (a real camera for the first panel when there is
# one, virtual cameras otherwise). With a display the person presses Play and closes the window
# when done; without one it runs under a virtual X server, presses Play itself and leaves
# screenshots, the event log and a summary in out/demo/.
#
# The demo runs its own server on a private bus with its own settings file and shared-memory
# names, so the person's settings and any component they run are left alone.
#
#   demo.sh [--pipewire] [vedereve-demo options...]
#   --pipewire (or VEDEREVE_DEMO_PIPEWIRE=1): the panels run on PipeWire test cameras of a
#   private daemon (scripts/pipewire-test-cameras.sh) instead, listed before the virtual ones.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pipewire=${VEDEREVE_DEMO_PIPEWIRE:-0}
args=()
for arg in "$@"; do
    case $arg in
        --pipewire) pipewire=1 ;;
        -h | --help)
            sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
            echo
            args+=("$arg") ;;
        *) args+=("$arg") ;;
    esac
done
set -- "${args[@]+"${args[@]}"}"
"$root/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
out="$root/out/demo"
rm -rf "$out"
mkdir -p "$out"

state=$(mktemp -d)
export VEDEREVE_REGISTRY="$state/registry.sqlite"
export VEDEREVE_SHM_PREFIX="/vedereve-demo-$$-"
# Two virtual cameras with pictures of their own, listed after any real camera: one delivers
# 176 x 144 bitmaps as they are, the other 320 x 240 YUY2 frames that the panel converts and
# scales down.
export VEDEREVE_VIRTUAL_CAMERAS=${VEDEREVE_VIRTUAL_CAMERAS:-"rgb24@176x144,name=Virtual camera A;yuy2@320x240,name=Virtual camera B"}
cleanup() {
    rm -rf "$state"
    rm -f /dev/shm/"${VEDEREVE_SHM_PREFIX#/}"*
}
trap cleanup EXIT

cmd=("$BUILD_DIR/bin/vedereve-demo" --server "$BUILD_DIR/bin/VE_DerEve" --output "$out")
if [[ -z "${DISPLAY:-}" ]]; then
    cmd+=(--seconds "${DEMO_SECONDS:-15}" --press-play)
fi
cmd+=("$@")
# The bus goes inside the X server, so that the server it activates sees the display.
config="$state/session.conf"
"$root/scripts/session-bus-config.sh" "$BUILD_DIR/dbus-services" >"$config"
cmd=(dbus-run-session --config-file="$config" -- "${cmd[@]}")
# The daemon outside the bus, so that the server the bus starts finds it; the first panel on the
# MJPG camera, the second on the YUY2 one (a machine's own camera comes first).
if [[ $pipewire == 1 ]]; then
    cmd=("$root/scripts/pipewire-test-cameras.sh" --cameras mjpg,yuy2 -- "${cmd[@]}")
fi
if [[ -z "${DISPLAY:-}" ]]; then
    cmd=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${cmd[@]}")
fi
status=0
"${cmd[@]}" || status=$?
# What the run left in shared memory, by name without the prefix (removed on exit).
left=$(find /dev/shm -maxdepth 1 -name "${VEDEREVE_SHM_PREFIX#/}*" -printf '%f\n' \
    | sed "s|^${VEDEREVE_SHM_PREFIX#/}||" | sort | tr '\n' ' ')
echo "demo: screenshots, events.log and summary.txt in $out"
echo "demo: shared-memory objects left after the run: ${left:-none}"
exit $status
