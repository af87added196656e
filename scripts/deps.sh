#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/deps.sh [extra-package ...]
set -euo pipefail

# Qt 5 for the default build; Qt 6 for the second one (its -dev packages bring the OpenGL and
# Vulkan headers and the tools its CMake files need). The package test also runs lintian (which
# brings man-db for the manual pages), desktop-file-validate and tallyctl's completion under
# bash-completion.
packages=(cmake g++ make qtbase5-dev libqt5serialport5-dev qt6-base-dev qt6-serialport-dev
          fonts-dejavu-core dpkg-dev file lintian desktop-file-utils bash-completion "$@")

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Run as root or install: ${missing[*]}" >&2; exit 1; }
    sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
