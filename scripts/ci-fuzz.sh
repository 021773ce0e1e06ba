#!/usr/bin/env bash
# CI: every fuzz target for a short fixed time on its committed corpus.
# FUZZ_SECONDS sets the time per target (default 30, less when CI's time is
# running out).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/sanitize-build.sh"
export FUZZ_ARTIFACTS="$(mktemp -d)"
failed=0
targets=$(ls "$ROOT/fuzz/corpus")
seconds="${FUZZ_SECONDS:-30}"
if [ -z "${FUZZ_SECONDS:-}" ] && [ -n "${GLIMMER_CI_DEADLINE:-}" ]; then
  # Two minutes kept for the targets' start and CI's own end.
  share=$(((GLIMMER_CI_DEADLINE - $(date +%s) - 120) / $(echo "$targets" | wc -l)))
  if [ "$share" -lt "$seconds" ]; then seconds=$((share < 5 ? 5 : share)); fi
  echo "ci-fuzz: $seconds s per target"
fi
printf '%-13s %10s %8s %3s\n' target executions seconds findings
for target in $targets; do
  "$ROOT/scripts/fuzz-run.sh" "$target" -max_total_time="$seconds" || failed=1
done
exit $failed
