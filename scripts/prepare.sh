#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing),
# configures the build folder once and builds. Sourced by run.sh and test.sh:
# run.sh needs only what builds and runs the player; with GLIMMER_WITH_TESTS=1
# (test.sh, the CI scripts) the test, benchmark and packaging tools come too.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_BUILD_DIR:-$ROOT/build}"

# What building and running the player needs.
PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  portaudio19-dev libasound2-dev libsndfile1-dev libpugixml-dev libarchive-dev
  # the compiled sequence file's checksum (XXH64)
  libxxhash-dev
  # sd-bus, to ask RealtimeKit for real-time priority as an ordinary user
  libsystemd-dev
  # the season calendar: calendar.toml and the times of dusk and dawn
  libtomlplusplus-dev libnova-dev
  # local times of the calendar's zones
  tzdata
  # ALSA's way to reach the desktop's audio server
  libasound2-plugins
  libcli11-dev
  # the phone page: HTTP server and JSON
  libmicrohttpd-dev nlohmann-json3-dev
  # the phone page's link as a QR code in the terminal
  libqrencode-dev
)
# What the tests, the benchmarks and CI need on top.
TEST_PACKAGES=(
  # the audio server the sync benchmark plays into
  pulseaudio pulseaudio-utils
  libgtest-dev libgmock-dev
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
  # CI builds the same sources in several folders (with and without the
  # window, the arm64 package and its tests): the compiler cache makes the
  # second and later ones cheap.
  ccache
)
WITH_TESTS="${GLIMMER_WITH_TESTS:-}"
if [ -n "$WITH_TESTS" ]; then PACKAGES+=("${TEST_PACKAGES[@]}"); fi
# The arm64 package and its tests under emulation (GLIMMER_ARM64=1): the
# cross compiler, the emulator, and the arm64 libraries beside ours.
if [ -n "${GLIMMER_ARM64:-}" ]; then
  PACKAGES+=(crossbuild-essential-arm64 qemu-user-static binfmt-support arch-test
             libpugixml-dev:arm64 libxxhash-dev:arm64 libsndfile1-dev:arm64 portaudio19-dev:arm64
             libasound2-dev:arm64 libarchive-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
             qt6-base-dev:arm64 libgl-dev:arm64
             libsystemd-dev:arm64 libtomlplusplus-dev:arm64 libnova-dev:arm64
             libmicrohttpd-dev:arm64 libqrencode-dev:arm64)
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
# Without the test tools the tests are not built; a later test.sh turns them
# on in the same folder.
if [ -n "$WITH_TESTS" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WERROR=$WERROR \
        -DBUILD_TESTING=ON
elif [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WERROR=$WERROR \
        -DBUILD_TESTING=OFF
fi
cmake --build "$BUILD" --parallel "$(nproc)"
