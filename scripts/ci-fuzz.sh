#!/usr/bin/env bash
# CI: every fuzz target for a short fixed time on its committed corpus.
# FUZZ_SECONDS sets the time per target (default 30).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/sanitize-build.sh"
export FUZZ_ARTIFACTS="$(mktemp -d)"
failed=0
printf '%-13s %10s %8s %3s\n' target executions seconds findings
for target in $(ls "$ROOT/fuzz/corpus"); do
  "$ROOT/scripts/fuzz-run.sh" "$target" -max_total_time="${FUZZ_SECONDS:-30}" || failed=1
done
exit $failed
