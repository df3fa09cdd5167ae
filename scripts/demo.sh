#!/usr/bin/env bash
# Fresh machine to the component running in the demo conferencing host, on the virtual camera
# when there is no camera. Without a display it runs under a virtual X server and leaves
# screenshots and a summary in out/demo/. Without a session bus it starts a private one that can
# activate the freshly built server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
out="$root/out/demo"
mkdir -p "$out"
cmd=("$BUILD_DIR/bin/vedereve-demo" --server "$BUILD_DIR/bin/VE_DerEve" --output "$out")
if [[ -z "${DISPLAY:-}" ]]; then
    cmd+=(--seconds "${DEMO_SECONDS:-8}")
fi
cmd+=("$@")
# The bus goes inside the X server, so that the server it activates sees the display.
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]]; then
    config="$BUILD_DIR/demo-session.conf"
    cat > "$config" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <servicedir>$BUILD_DIR/dbus-services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    cmd=(dbus-run-session --config-file="$config" -- "${cmd[@]}")
fi
if [[ -z "${DISPLAY:-}" ]]; then
    cmd=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${cmd[@]}")
fi
"${cmd[@]}"
echo "demo: screenshots and summary in $out"
