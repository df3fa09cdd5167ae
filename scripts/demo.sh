#!/usr/bin/env bash
# Fresh machine to the component running in the demo conferencing host, on the virtual camera
# when there is no camera. Without a display it runs under a virtual X server and leaves
# screenshots and a summary in out/demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
out="$root/out/demo"
mkdir -p "$out"
host=("$BUILD_DIR/demo/vedereve-demo" --server "$BUILD_DIR/src/automation/dbus/VE_DerEve"
      --output "$out")
if [[ -z "${DISPLAY:-}" ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${host[@]}" --seconds "${DEMO_SECONDS:-15}"
fi
exec "${host[@]}" "$@"
