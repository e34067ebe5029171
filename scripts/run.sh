#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
echo "Building ..."
"$root/scripts/build.sh"
echo "Starting Velth Control Center."
exec "${VELTH_BUILD_DIR:-$root/build}/velth-control-center"
