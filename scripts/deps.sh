#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and CI need.
# Does nothing when they are all installed already, so repeated runs are quick.
set -euo pipefail

packages=(
    cmake ninja-build g++ ccache
    qtbase5-dev libqt5serialport5-dev libqcustomplot-dev libcjson-dev libmosquitto-dev mosquitto
    fonts-quicksand stm32flash
    xvfb clang libclang-rt-14-dev
    g++-mingw-w64-x86-64 wine64
    python3 openssl pkg-config nettle-dev xauth dpkg-dev file stress-ng locales
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        sudo="sudo"
    else
        echo "deps: run as root (or install sudo) to install: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y "${packages[@]}"
