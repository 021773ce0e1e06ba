#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing),
# configures the build folder once and builds. Sourced by run.sh and test.sh.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  portaudio19-dev libasound2-dev libsndfile1-dev libpugixml-dev libarchive-dev
  # the compiled sequence file's checksum (XXH64)
  libxxhash-dev
  # settings.toml (the alert command)
  libtomlplusplus-dev
  # the audio server the sync benchmark plays into, and ALSA's way to reach it
  pulseaudio pulseaudio-utils libasound2-plugins
  libgtest-dev libgmock-dev libcli11-dev
  # the Debian package: dpkg-shlibdeps, and file, which CPack asks which files are programs
  dpkg-dev file
  xvfb xauth fonts-dejavu-core
  # The sanitizer and fuzz builds (clang's runtimes) and the formatting check.
  clang-14 libclang-rt-14-dev clang-format-14
  # The window's end-to-end test: a window manager, xdotool to drive it,
  # screenshots (imagemagick) and xprop to see the window manager is up.
  xdotool openbox imagemagick x11-utils
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
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Only the packages: the sanitizer build configures its own folder.
if [ -n "${GLIMMER_PREPARE_ONLY:-}" ]; then return 0; fi

# In CI a warning fails the build.
WERROR=OFF
if [ "${CI:-}" = true ]; then WERROR=ON; fi
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WERROR=$WERROR
fi
cmake --build "$BUILD" --parallel "$(nproc)"
