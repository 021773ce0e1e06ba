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
  # the audio server the sync benchmark plays into, and ALSA's way to reach it
  pulseaudio pulseaudio-utils libasound2-plugins
  libgtest-dev libgmock-dev libcli11-dev
  # the phone page: HTTP server, JSON, and settings.toml
  libmicrohttpd-dev nlohmann-json3-dev libtomlplusplus-dev
  # the Debian package: dpkg-shlibdeps, and file, which CPack asks which files are programs
  dpkg-dev file
  xvfb xauth fonts-dejavu-core
  # The sanitizer and fuzz builds (clang's runtimes) and the formatting check.
  clang-14 libclang-rt-14-dev clang-format-14
  # The window's end-to-end test: a window manager, xdotool to drive it,
  # screenshots (imagemagick) and xprop to see the window manager is up.
  xdotool openbox imagemagick x11-utils
  # The package checks: lintian, the manual pages' help2man, hardening-check
  # (devscripts), and a fresh Debian root to install the package into.
  lintian help2man devscripts mmdebstrap
  # The phone page's test in a real browser, headless.
  chromium
)
# The arm64 package and its tests under emulation (GLIMMER_ARM64=1): the
# cross compiler, the emulator, and the arm64 libraries beside ours.
if [ -n "${GLIMMER_ARM64:-}" ]; then
  PACKAGES+=(crossbuild-essential-arm64 qemu-user-static binfmt-support
             libpugixml-dev:arm64 libxxhash-dev:arm64 libsndfile1-dev:arm64 portaudio19-dev:arm64
             libasound2-dev:arm64 libarchive-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
             qt6-base-dev:arm64 libgl-dev:arm64)
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    if [ "$(id -u)" -ne 0 ]; then sudo dpkg --add-architecture arm64; else dpkg --add-architecture arm64; fi
  fi
fi

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
