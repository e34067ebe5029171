#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, checks the
# formatting, and runs every test through CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
echo "Building ..."
"$root/scripts/build.sh" -DVELTH_WERROR=ON
"$root/scripts/check-format.sh"
echo "Running the tests ..."
cd "${VELTH_BUILD_DIR:-$root/build}"
ctest --output-on-failure -j "$(nproc)"
