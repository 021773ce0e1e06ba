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
