#!/usr/bin/env bash
# A private PipeWire daemon with test cameras, for the tests, the demo and checks by hand. It
# needs no desktop session, no systemd and no session bus, and works as a plain user and as root
# with an almost empty environment (env -i PATH=/usr/bin:/bin ...).
#
#   pipewire-test-cameras.sh [--cameras LIST] [--session-manager] [-- COMMAND [ARG...]]
#       Starts the daemon (its own runtime folder under /tmp, mode 700) with a test-pattern camera
#       node, plus the GStreamer cameras in LIST (comma-separated: yuy2, mjpg; default both;
#       "none" for none). With a COMMAND, runs it in the daemon's environment and stops
#       everything when it ends, with its exit status. Without one, prints the environment
#       (export lines, then a line READY) and runs until interrupted, or until the process that
#       started it is gone. Clients find the daemon through PIPEWIRE_RUNTIME_DIR and
#       PIPEWIRE_REMOTE (and XDG_RUNTIME_DIR when it was not set).
#       --session-manager also runs WirePlumber (under a private session bus), for clients that
#       leave linking their streams to a session manager.
#   pipewire-test-cameras.sh source KIND NAME DESCRIPTION [WIDTHxHEIGHT]
#       Runs one GStreamer test camera (KIND yuy2 or mjpg) on the daemon the environment names,
#       until it is stopped. Give it half a second after its node appears before linking to it.
#
# The GStreamer cameras show the standard colour bars (the MJPG one a still picture of them) at
# 320 x 240 and 30 frames/s unless told otherwise.
set -euo pipefail
export PATH=${PATH:-/usr/local/bin:/usr/bin:/bin}
root=$(cd "$(dirname "$0")/.." && pwd)
config=${VEDEREVE_PIPEWIRE_CONFIG:-$root/tests/pipewire/pipewire-test.conf}

# One GStreamer camera in the foreground (exec: stopping this process stops the camera).
run_source() {
    local kind=$1 name=$2 description=$3 size=${4:-320x240}
    local raw="video/x-raw,width=${size%x*},height=${size#*x},framerate=30/1"
    local picture
    case $kind in
        # The bars, live: the corner of noise at the bottom right changes from frame to frame.
        yuy2) picture=(videotestsrc is-live=true pattern=smpte ! "$raw,format=YUY2") ;;
        # One picture, frozen and encoded 30 times a second, so that every frame has the same
        # size: the sink sizes its buffers from the first frame, and a larger later one would
        # arrive cut short.
        mjpg) picture=(videotestsrc num-buffers=1 pattern=smpte ! "$raw" ! imagefreeze is-live=true
                ! video/x-raw,framerate=30/1
                ! jpegenc quality=90 ! image/jpeg) ;;
        *) echo "pipewire-test-cameras: unknown camera kind '$kind' (yuy2, mjpg)" >&2; exit 2 ;;
    esac
    # identity drop-allocation: without it the sink serves only its first consumer.
    exec gst-launch-1.0 -q "${picture[@]}" ! identity drop-allocation=true \
        ! pipewiresink mode=provide \
        "stream-properties=\"props,media.class=Video/Source,media.role=Camera,node.name=$name,node.description=(string)\\\"$description\\\"\""
}

if [[ ${1:-} == source ]]; then
    shift
    [[ $# -ge 3 ]] || { echo "usage: $0 source KIND NAME DESCRIPTION [WIDTHxHEIGHT]" >&2; exit 2; }
    run_source "$@"
fi

cameras=yuy2,mjpg
session_manager=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --cameras) cameras=$2; shift 2 ;;
        --session-manager) session_manager=1; shift ;;
        --) shift; break ;;
        -h|--help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "pipewire-test-cameras: unknown option $1 (--help)" >&2; exit 2 ;;
    esac
done
tools=(pipewire pw-cli gst-launch-1.0)
if [[ $session_manager == 1 ]]; then tools+=(wireplumber dbus-daemon); fi
for tool in "${tools[@]}"; do
    if ! command -v "$tool" >/dev/null; then
        echo "pipewire-test-cameras: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 3
    fi
done

# The socket's path must stay well under the UNIX socket limit of about 100 characters.
runtime=$(mktemp -d /tmp/vpw.XXXXXX)
chmod 700 "$runtime"
# Clients look in PIPEWIRE_RUNTIME_DIR before XDG_RUNTIME_DIR, so a desktop's runtime folder (its
# display sockets, its bus) stays as it is; without one, ours serves.
export PIPEWIRE_RUNTIME_DIR=$runtime PIPEWIRE_REMOTE=pipewire-0
set_runtime=0
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    export XDG_RUNTIME_DIR=$runtime
    set_runtime=1
fi
# GStreamer keeps its plugin registry in the home folder; a home that is missing or not ours
# (env -i, user nobody) gets one in the runtime folder.
if [[ -z ${HOME:-} || ! -w ${HOME:-/nonexistent} ]]; then
    export GST_REGISTRY=$runtime/gst-registry.bin
fi

children=()
cleanup() {
    trap - EXIT INT TERM HUP
    # Cameras first, so that none complains about the daemon leaving under it.
    local i
    for ((i = ${#children[@]} - 1; i >= 0; i--)); do
        kill -TERM "${children[i]}" 2>/dev/null || true
    done
    for pid in "${children[@]}"; do
        for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

log=$runtime/daemon.log
pipewire -c "$config" >"$log" 2>&1 &
children+=($!)
for _ in $(seq 100); do
    [[ -S $runtime/pipewire-0 ]] && break
    kill -0 "${children[0]}" 2>/dev/null || break
    sleep 0.05
done
if [[ ! -S $runtime/pipewire-0 ]]; then
    echo "pipewire-test-cameras: the daemon did not start:" >&2
    cat "$log" >&2
    exit 3
fi

if [[ $session_manager == 1 ]]; then
    # A bus of its own: WirePlumber leaves at once without one. Our own daemon rather than
    # dbus-run-session, which leaves its bus behind when it is stopped by a signal.
    dbus-daemon --session --nofork --print-address=3 3>"$runtime/bus" 2>"$runtime/bus.log" &
    children+=($!)
    for _ in $(seq 50); do [[ -s $runtime/bus ]] && break; sleep 0.05; done
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$runtime/bus") wireplumber \
        >"$runtime/wireplumber.log" 2>&1 &
    children+=($!)
fi

IFS=, read -ra kinds <<<"$cameras"
nodes=()
for kind in "${kinds[@]}"; do
    case $kind in
        none | "") continue ;;
        yuy2) description="YUY2 Test Camera" ;;
        mjpg) description="MJPG Test Camera" ;;
        *) echo "pipewire-test-cameras: unknown camera kind '$kind' (yuy2, mjpg, none)" >&2
            exit 2 ;;
    esac
    "$0" source "$kind" "vedereve-test-$kind" "$description" >"$runtime/$kind.log" 2>&1 &
    children+=($!)
    nodes+=("vedereve-test-$kind")
done
# Ready once every camera is registered (GStreamer takes a moment to start).
for _ in $(seq 100); do
    listed=$(pw-cli ls Node 2>/dev/null || true)
    missing=0
    for node in "${nodes[@]+"${nodes[@]}"}"; do
        [[ $listed == *"\"$node\""* ]] || missing=1
    done
    [[ $missing == 0 ]] && break
    sleep 0.1
done
if [[ $missing == 1 ]]; then
    echo "pipewire-test-cameras: a GStreamer camera did not register:" >&2
    cat "$runtime"/*.log >&2
    exit 3
fi
# A consumer that links in the moment between the node's registration and the sink's first frame
# crashes the sink (0-byte buffers); nothing tells that moment from outside, so let it pass.
if [[ ${#nodes[@]} -gt 0 ]]; then sleep 0.5; fi

if [[ $# -gt 0 ]]; then
    status=0
    "$@" || status=$?
    exit $status
fi

if [[ $set_runtime == 1 ]]; then echo "export XDG_RUNTIME_DIR=$runtime"; fi
echo "export PIPEWIRE_RUNTIME_DIR=$runtime"
echo "export PIPEWIRE_REMOTE=pipewire-0"
echo "READY"
# Until interrupted, or until whoever started us has gone without stopping us.
parent=$PPID
while kill -0 "$parent" 2>/dev/null && kill -0 "${children[0]}" 2>/dev/null; do
    sleep 0.3
done
