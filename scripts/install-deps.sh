#!/usr/bin/env bash
# Installs every Debian package Vantirel needs to build, run and test.
# Idempotent: packages already present are skipped. Needs root (or sudo).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    librtlsdr-dev libfaad-dev libfftw3-dev portaudio19-dev nlohmann-json3-dev
    libglfw3-dev libimgui-dev libgl-dev libgl1-mesa-dri libfreetype-dev fonts-dejavu-core
    libcurl4-openssl-dev libstb-dev libsoxr-dev libsndfile1-dev libmosquitto-dev
    dump1090-mutability socat direwolf welle.io rtl-433 mosquitto mosquitto-clients
    faad libhamlib-utils libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "All build dependencies are installed."
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
