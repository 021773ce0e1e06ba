#!/usr/bin/env bash
# CI: the whole test suite once more, built with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer; any finding fails its test.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/sanitize-build.sh"
cd "$SANITIZE_BUILD"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" "$@"
