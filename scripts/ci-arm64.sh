#!/usr/bin/env bash
# CI: the arm64 package for Raspberry Pi-class boards, cross-built here, and
# the core tests (the build without the window) run under qemu-user-static.
# Then, where the Debian mirror is reachable, the package is installed into a
# fresh arm64 Debian root and plays the demo there under emulation
# (GLIMMER_ARM64_ROOT=0 leaves that out, and so does a CI run with under 40
# minutes left).
#
# Kept lean for CI's time limit: only the programs and the core tests are
# built, each once.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGE_BUILD="${GLIMMER_ARM64_BUILD_DIR:-$ROOT/build-arm64}"
CORE_BUILD="${GLIMMER_ARM64_CORE_BUILD_DIR:-$ROOT/build-arm64-core}"
TOOLCHAIN="$ROOT/cmake/aarch64-linux-gnu.cmake"
GLIMMER_WITH_TESTS=1 GLIMMER_ARM64=1 GLIMMER_PREPARE_ONLY=1 source "$ROOT/scripts/prepare.sh"
WERROR=OFF
if [ "${CI:-}" = true ]; then WERROR=ON; fi

# Programs the tests start (glimmer, the extractor) are arm64 too: the kernel
# hands them to the emulator once it is registered.
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  $SUDO update-binfmts --enable qemu-aarch64
fi

# The package: window included, no tests.
cmake -S "$ROOT" -B "$PACKAGE_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WERROR=$WERROR -DBUILD_TESTING=OFF \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
cmake --build "$PACKAGE_BUILD" --parallel "$(nproc)" \
      --target glimmer glimmerfield glimmer-extract manual_pages
rm -f "$PACKAGE_BUILD"/glimmerfield_*.deb
(cd "$PACKAGE_BUILD" && cpack -G DEB)
deb=$(ls "$PACKAGE_BUILD"/glimmerfield_*_arm64.deb)
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends
file "$PACKAGE_BUILD/bin/glimmer"
lintian --fail-on error,warning "$deb"
echo "lintian: no errors or warnings in $(basename "$deb")"
d=$(mktemp -d)
dpkg -x "$deb" "$d"
hardening-check --nocfprotection "$d/usr/bin/glimmer" "$d/usr/bin/glimmerfield"
rm -rf "$d"

# The core tests, built without Qt, run under emulation.
cmake -S "$ROOT" -B "$CORE_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WERROR=$WERROR -DGLIMMER_WINDOW=OFF \
      -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
cmake --build "$CORE_BUILD" --parallel "$(nproc)"
# Left out: what qemu-user itself does not emulate, so they would test the
# emulator. It has no termios2 calls (the 56000 baud line settings) and no
# TIOCGEXCL (the pseudo-terminal tests and the monitor, which configure a
# line); a program that cannot be started looks started to its parent (the
# launcher's and the extractor's error paths). The sound test needs the
# audio server's ALSA plugin in arm64, which is not installed for this lean
# step, so the arm64 programs play silently here. An alert command that
# does not exist is the launcher's error path again. The phone page in the
# browser is the same page on every architecture, and the browser is an
# amd64 program. An address space limit bounds the emulator, not the program
# it runs, and a hanging alert command is not ended there as natively. All
# run natively in ./test.sh.
emulator_limits='SerialPortOnPty\.(OpensRaw8N1|SecondOpener)'
emulator_limits+='|MonitorCommand\.PrintsMessagesAndEnds|PosixProcessLauncher\.ProgramThatCannotStart'
emulator_limits+='|ExecCmd\.RunsTheLinesProgram|AudioTest\.DeviceStopsAtOnce'
emulator_limits+='|AlertRunnerTest\.AMissingCommand|PageInBrowser\.'
emulator_limits+='|Reader\.TreeReadingHasABoundAndRunningOutOfMemory'
emulator_limits+='|AlertRunnerTest\.(AHangingCommand|TheEndWaitsNoLongerThanItsLimitForAHangingCommand)'
# The longest simulations (a week of nights and ten calendar nights on fake
# clocks) test the scheduler's logic, which is the same on every
# architecture, and cost minutes under emulation: they run natively.
emulator_limits+='|ShowCalendarTest\.(OverTenNightsEachPlaysAsThePreviewSays|ObserversAskingTheCalendarChangeNothingThePassDecides)'
emulator_limits+='|ShowWeekTest\.EveryDayTheWindowOpensAndClosesOnItsSecondAndNothingGrows'
# A test that hangs under the emulator fails in minutes, not after ctest's 25.
(cd "$CORE_BUILD" && ctest --output-on-failure --parallel "$(nproc)" --timeout 300 -E "$emulator_limits")

if [ "${GLIMMER_ARM64_ROOT:-1}" != 0 ]; then
  # The install under emulation takes minutes; in a CI run that is late it
  # gives way to the sanitizer and fuzzing steps after it (the amd64
  # package's install check has run, and this package passed lintian and
  # the core tests above).
  if [ -n "${GLIMMER_CI_DEADLINE:-}" ] && [ $((GLIMMER_CI_DEADLINE - $(date +%s))) -lt 2400 ]; then
    echo "ci-arm64: under 40 minutes of CI left: the install into a fresh arm64 root is left out"
  else
    "$ROOT/scripts/install-check.sh" arm64 "$deb"
  fi
fi
