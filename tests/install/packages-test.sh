#!/usr/bin/env bash
# The Debian packages as a user gets them, checked on a throw-away root: never the machine's own
# /usr. One step per call, run by ctest in this order (each needs the ones before):
#   packages-test.sh build   WORK BUILD_DIR   cpack from the build tree, extract into WORK/root
#   packages-test.sh lintian WORK             no lintian error or warning
#   packages-test.sh library WORK             SONAME, exported symbols, headers alone, the
#                                             example parent built with find_package and pkg-config
#   packages-test.sh run     WORK SOURCE_DIR  manual pages; a private bus whose services folder is
#                                             the root's activates the installed server, and the
#                                             example parent drives it
#   packages-test.sh clean   WORK
set -euo pipefail
step=$1
work=$2
root=$work/root
multiarch=$(gcc -print-multiarch)
libdir=$root/usr/lib/$multiarch

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

case $step in
build)
    build=$3
    rm -rf "$work"
    mkdir -p "$work/debs" "$root"
    cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 \
        || { cat "$work/cpack.log"; fail "cpack"; }
    mv "$work/cpack/"*.deb "$work/debs/"
    rm -rf "$work/cpack"
    for deb in "$work/debs/"*.deb; do
        echo "$(dpkg-deb -f "$deb" Package) $(stat -c %s "$deb") bytes"
        echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
        # Nothing runs as root when the packages are installed.
        scripts=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'preinst|postinst|prerm|postrm' || true)
        [[ -z "$scripts" ]] || fail "$(basename "$deb") carries maintainer scripts: $scripts"
        dpkg-deb -x "$deb" "$root"
    done
    [[ $(ls "$work/debs" | wc -l) -eq 4 ]] || fail "expected four packages: $(ls "$work/debs")"
    ;;
lintian)
    # Informational tags are explained in the packaging notes; errors and warnings fail.
    status=0
    lintian --fail-on error,warning "$work/debs/"*.deb >"$work/lintian.txt" 2>&1 || status=$?
    grep -v 'running with root privileges' "$work/lintian.txt" || true
    [[ $status -eq 0 ]] || fail "lintian"
    ;;
library)
    lib=$(readlink -f "$libdir/libvedereve-client.so")
    soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
    [[ "$soname" == libvedereve-client.so.0 ]] || fail "SONAME is '$soname'"
    [[ -e "$libdir/$soname" ]] || fail "no $soname link"
    # Only the client's own classes and functions leave the library: none of the component's
    # code linked into it, no template or inline function of Qt's.
    nm -D --defined-only "$lib" | awk '{ print $3 }' | c++filt >"$work/exports.txt"
    allowed='^((typeinfo|typeinfo name|vtable) for )?(VEDerEveClient|VEDerEveEvents|VEDerEveEventSink|ImageBlockWriter)(::|$)|^readImageBlock\('
    if grep -Ev "$allowed" "$work/exports.txt"; then
        fail "the library exports more than the client (above)"
    fi
    grep -q '^VEDerEveClient::create()' "$work/exports.txt" || fail "VEDerEveClient::create() is not exported"

    # Each installed header compiles on its own with nothing but the root and Qt on the include
    # path, in C++17 as a parent may use.
    qt_flags=$(pkg-config --cflags Qt6DBus)
    for header in "$root/usr/include/VEDerEveClient/"*.h; do
        echo "#include <$(basename "$header")>" | g++ -std=c++17 -fsyntax-only -fPIC -x c++ \
            -I"$root/usr/include/VEDerEveClient" $qt_flags - \
            || fail "$(basename "$header") does not compile on its own"
    done

    example=$root/usr/share/doc/libvedereve-client-dev/examples/parent
    cmake -S "$example" -B "$work/example-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" \
        >"$work/example-cmake.log" 2>&1 || { cat "$work/example-cmake.log"; fail "configure the example"; }
    cmake --build "$work/example-cmake" >>"$work/example-cmake.log" 2>&1 \
        || { cat "$work/example-cmake.log"; fail "build the example with find_package"; }
    grep -q "$libdir/libvedereve-client.so" "$work/example-cmake/CMakeCache.txt" \
        "$work/example-cmake/build.ninja" || fail "the example did not link the staged library"
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    # shellcheck disable=SC2046
    g++ -std=c++17 -fPIC -o "$work/example-pkgconfig" "$example/main.cpp" \
        $(pkg-config --cflags --libs vedereve-client Qt6Widgets) \
        || fail "build the example with pkg-config"
    # Whole outputs are read before they are searched: grep -q stops reading at its first match,
    # and the writer's SIGPIPE would then fail the pipeline now and then.
    loads=$(LD_LIBRARY_PATH=$libdir ldd "$work/example-pkgconfig")
    grep -q "$libdir/libvedereve-client.so.0" <<<"$loads" \
        || fail "the pkg-config build does not load the staged library"
    ;;
run)
    source_dir=$3
    for page in VE_DerEve vedereve-reg vedereve-demo; do
        text=$(MANPATH=$root/usr/share/man MANWIDTH=80 man -P cat "$page" 2>/dev/null || true)
        grep -q "^NAME" <<<"$text" || fail "man $page"
    done

    # The package names the installed path; the bus can only start what this root holds there.
    service=$root/usr/share/dbus-1/services/com.zedazido.VEDerEve.service
    grep -qx 'Exec=/usr/bin/VE_DerEve' "$service" || fail "service file: $(cat "$service")"
    sed -i "s|^Exec=/usr/|Exec=$root/usr/|" "$service"
    "$source_dir/scripts/session-bus-config.sh" "$root/usr/share/dbus-1/services" >"$work/session.conf"
    export VEDEREVE_REGISTRY=$work/registry.sqlite
    export VEDEREVE_SHM_PREFIX=/vedereve-packages-$$-
    export VEDEREVE_TRACE_FILE=$work/trace.txt
    export VEDEREVE_VIRTUAL_CAMERAS=0
    export VEDEREVE_PIPEWIRE=off
    trap 'rm -f /dev/shm/"${VEDEREVE_SHM_PREFIX#/}"*' EXIT
    [[ -n "${DISPLAY:-}" ]] || export QT_QPA_PLATFORM=offscreen
    # A stored picture as the chosen source, set with the installed settings tool: the component
    # offers it as soon as the parent switches transmission on. Four slots hold it, so that entry
    # 3 is the picture behind up to three real cameras.
    key='HKCU\Software\Zedazido\Defaults'
    for slot in 1 2 3 4; do
        "$root/usr/bin/vedereve-reg" add "$key" /v "WebCamPic$slot" \
            /d "$source_dir/resources/skin/picStopCam.png" /f >/dev/null
    done
    "$root/usr/bin/vedereve-reg" add "$key" /v WebCamDevice /d 3 /f >/dev/null
    out=$(dbus-run-session --config-file="$work/session.conf" -- \
        "$work/example-cmake/vedereve-example-parent" 20 2>&1) || { echo "$out"; fail "example parent"; }
    echo "$out"
    grep -q '^snapshot [0-9]*: 176 x 144' <<<"$out" || fail "no snapshot"
    grep -q '^participant picture [0-9]* handed over' <<<"$out" || fail "picture not handed over"
    ;;
clean)
    rm -rf "$work"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
