#!/usr/bin/env bash
# Builds the Debian package of Velth Control Center (a Release build, without
# the tests) in build-package/ and prints the package's path on the last line.
# Its library dependencies come from dpkg-shlibdeps (dpkg-dev, part of
# build-essential). Install it with: sudo apt install ./build-package/<file>.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="${VELTH_PACKAGE_DIR:-$root/build-package}"
log="$out/package.log"
"$root/scripts/install-deps.sh"
mkdir -p "$out"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
rm -f "$out"/*.deb
if ! {
    cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTH_TESTS=OFF "${launcher[@]}" &&
        cmake --build "$out" -j "$(nproc)" &&
        (cd "$out" && cpack -G DEB)
} >"$log" 2>&1; then
    cat "$log" >&2
    echo "Packaging failed (log: $log)" >&2
    exit 1
fi
ls "$out"/*.deb
