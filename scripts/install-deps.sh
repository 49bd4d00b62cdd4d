#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing studiocast needs.
# Does nothing (and needs no network) when all of them are installed already.
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev libqt6sql6-sqlite libgl-dev qt6-qpa-plugins
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libx264-dev
  libturbojpeg0-dev libjpeg-dev zlib1g-dev libyuv-dev
  libcurl4-openssl-dev curl nlohmann-json3-dev
  libpulse-dev pulseaudio pulseaudio-utils sox
  libpoppler-qt6-dev libevdev-dev libxtst-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth fonts-noto-cjk procps
)
missing=()
for pkg in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
