#!/usr/bin/env bash
# Redraws the skin pictures under resources/skin/ (each also at twice the
# size, "@2x") and the desktop icons under resources/icons/ from
# resources/artwork/.
# Usage: scripts/make-skin.sh [build folder]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target velth-skin-artwork -j2
QT_QPA_PLATFORM=offscreen "$build/resources/velth-skin-artwork" "$root/resources/skin" "$root/resources/icons"
