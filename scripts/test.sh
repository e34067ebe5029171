#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, checks the
# formatting, and runs every test through CTest. With VELTH_SANITIZE_TESTS=1
# the tests run once more from a separate AddressSanitizer and
# UndefinedBehaviorSanitizer build (build-asan/; slow, so not by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
echo "Building ..."
"$root/scripts/build.sh" -DVELTH_WERROR=ON
"$root/scripts/check-format.sh"
echo "Running the tests ..."
cd "${VELTH_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$(nproc)"

if [ "${VELTH_SANITIZE_TESTS:-0}" = 1 ]; then
    echo "Building with AddressSanitizer and UndefinedBehaviorSanitizer ..."
    asan="$root/build-asan"
    VELTH_BUILD_DIR="$asan" "$root/scripts/build.sh" -DVELTH_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    echo "Running the tests under the sanitizers ..."
    cd "$asan"
    runtime="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
    XDG_RUNTIME_DIR="$runtime" ASAN_OPTIONS=detect_leaks=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j "$(nproc)"
fi
