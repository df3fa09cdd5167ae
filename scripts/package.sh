#!/usr/bin/env bash
# Fresh machine to Debian packages: installs missing packages, builds, and leaves the .deb files
# in OUTDIR (made from the same build tree as the tests, so nothing is built twice).
#   scripts/package.sh OUTDIR
set -euo pipefail
if [[ $# -ne 1 ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
"$root/scripts/install-deps.sh"
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
cpack --config "$BUILD_DIR/CPackConfig.cmake" -B "$staging" >"$staging/cpack.log" 2>&1 \
    || { cat "$staging/cpack.log" >&2; exit 1; }
for deb in "$staging"/*.deb; do
    mv "$deb" "$out/"
    echo "package: $out/$(basename "$deb") ($(dpkg-deb -f "$out/$(basename "$deb")" Installed-Size) KiB installed)"
done
