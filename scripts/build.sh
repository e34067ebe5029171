#!/usr/bin/env bash
# Configures and builds the program and its tests into build/ (quiet unless
# something fails). Extra arguments go to CMake's configure step.
# VELTH_BUILD_TARGETS (space-separated) builds only those targets and what
# they need.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VELTH_BUILD_DIR:-$root/build}"
log="$build/build.log"
mkdir -p "$build"
targets=()
for target in ${VELTH_BUILD_TARGETS:-}; do
    targets+=(--target "$target")
done
if ! { cmake -S "$root" -B "$build" -G Ninja "$@" && cmake --build "$build" -j "$(nproc)" "${targets[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "Build failed (log: $log)" >&2
    exit 1
fi
