#!/usr/bin/env bash
# Every fuzz target for at least a million executions (FUZZ_RUNS), each
# capped at FUZZ_MAX_SECONDS (default 900) so the slow ones (the extractor,
# which writes every archive to disk, and the whole compiler) may stop
# short. Prints executions, time and findings per target.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/sanitize-build.sh"
export FUZZ_ARTIFACTS="$(mktemp -d)"
printf '%-13s %10s %8s %3s\n' target executions seconds findings
failed=0
for target in $(ls "$ROOT/fuzz/corpus"); do
  "$ROOT/scripts/fuzz-run.sh" "$target" -runs="${FUZZ_RUNS:-1000000}" \
    -max_total_time="${FUZZ_MAX_SECONDS:-900}" || failed=1
done
echo "findings, if any, are in $FUZZ_ARTIFACTS"
exit $failed
