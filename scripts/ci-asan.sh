#!/usr/bin/env bash
# CI: the whole test suite once more, built with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer; any finding fails its test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/sanitize-build.sh"
cd "$SANITIZE_BUILD"
# Without the leak check: every program that opens the audio device loads
# the sound system's plugins, which leak a few bytes of their own and are
# unloaded before the check, so it cannot tell them from ours. The fuzz
# targets, which never touch audio, keep it.
export ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" "$@"

# The tests that use real pseudo-terminals or start real processes depend on
# the kernel's and the scheduler's timing, which a sanitized build on a busy
# machine stretches most: they run five times over, so one that passes only
# by luck is found before it lands.
LIVE='ShowWeekTest|ShowFaultsTest|SerialPortOnPty|GlimmerShow|DemoCommand|MonitorCommand'
LIVE+='|WindowEndToEnd|PosixProcessLauncher|GlimmerCli|ExtractorProgram'
# Five times where CI's time allows, fewer when the run is late (say so).
repeats=5
if [ -n "${GLIMMER_CI_DEADLINE:-}" ]; then
  left=$((GLIMMER_CI_DEADLINE - $(date +%s)))
  if [ "$left" -lt 900 ]; then repeats=2; elif [ "$left" -lt 1500 ]; then repeats=3; fi
  echo "ci-asan: $((left / 60)) minutes of CI left: the live tests run $repeats times over"
fi
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" -R "$LIVE" \
  --repeat "until-fail:$repeats"
