#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and its demo need.
# Quiet and quick when everything is already there; works as root or via sudo.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev libgl-dev
    qt6-svg-dev
    qt6-httpserver-dev qt6-websockets-dev
    fonts-liberation2
    libcurl4-openssl-dev curl
    nlohmann-json3-dev
    libgtest-dev libgmock-dev
    clang clang-format libclang-rt-dev
    python3-pyftpdlib python3-openssl python3-paramiko openssl openssh-client
    xvfb xauth
    unrtf
    qstat time
    coturn nftables iproute2
    prometheus
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq >/dev/null
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
