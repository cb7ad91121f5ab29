#!/usr/bin/env bash
# Installs the Debian 12 packages the controller, its tests and tools need, skipping
# what is already there. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools
    libbenchmark-dev fonts-liberation2
    clang libclang-rt-14-dev
    dpkg-dev desktop-file-utils strace
    liblo-tools
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
