#!/usr/bin/env bash
# Installs what is missing (Debian 12 packages), then configures and builds.
# Quick and quiet when everything is already there.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  libfluidsynth-dev fluidsynth fluid-soundfont-gm
  libasound2-dev libsndfile1-dev libmpg123-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic fonts-ipafont-mincho fonts-liberation
  xvfb xauth pulseaudio pulseaudio-utils libpulse-dev libxtst-dev libxdamage-dev libfontconfig-dev dbus-daemon dpkg-dev file
  librsvg2-bin lintian appstream desktop-file-utils
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=${QORN_BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/build.ninja" ] || [ -n "${QORN_CMAKE_ARGS:-}" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${QORN_CMAKE_ARGS:-}
fi
cmake --build "$BUILD_DIR" -j "$(nproc)"
