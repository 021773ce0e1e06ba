#!/usr/bin/env bash
# CI: every C++ file formatted as .clang-format says, and the test rules
# that can be checked by reading: no test waits by sleeping, and a test that
# cannot run here uses SKIP_OUTSIDE_CI (tests/fakes/skip_outside_ci.h), which
# fails under CI=true instead of skipping quietly.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
GLIMMER_WITH_TESTS=1 GLIMMER_PREPARE_ONLY=1 source "$ROOT/scripts/prepare.sh"
failed=0

git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror || {
  echo "ci-lint: files above are not formatted: run clang-format-14 -i on them" >&2
  failed=1
}

if git grep -nE '\b(usleep|nanosleep|sleep_for|sleep_until)\b|\bsleep\(' -- tests; then
  echo "ci-lint: tests above sleep; drive time through the fake clock instead" >&2
  failed=1
fi
if git grep -n 'GTEST_SKIP' -- tests ':!tests/fakes/skip_outside_ci.h'; then
  echo "ci-lint: tests above skip quietly; use SKIP_OUTSIDE_CI" >&2
  failed=1
fi
exit $failed
