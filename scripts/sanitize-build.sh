#!/usr/bin/env bash
# Configures once and builds the clang build with AddressSanitizer,
# UndefinedBehaviorSanitizer and the libFuzzer targets, warnings as errors:
# build-sanitize/, or $GLIMMER_SANITIZE_DIR. Sourced by scripts/ci-asan.sh,
# scripts/ci-fuzz.sh and bench/fuzz_all.sh. SANITIZE_TARGETS builds only those
# targets (e.g. SANITIZE_TARGETS=fuzz_monitor).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SANITIZE_BUILD="${GLIMMER_SANITIZE_DIR:-$ROOT/build-sanitize}"

GLIMMER_WITH_TESTS=1 GLIMMER_PREPARE_ONLY=1 source "$ROOT/scripts/prepare.sh"

if [ ! -f "$SANITIZE_BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$SANITIZE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DGLIMMER_FUZZ=ON -DGLIMMER_WERROR=ON
fi
cmake --build "$SANITIZE_BUILD" --parallel "$(nproc)" ${SANITIZE_TARGETS:+--target $SANITIZE_TARGETS}

# Findings stop the program at once; leaks count as findings.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
if command -v llvm-symbolizer-14 >/dev/null; then
  export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14)"
fi
