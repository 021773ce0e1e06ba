#!/usr/bin/env bash
# Runs one libFuzzer target of the sanitizer build on a scratch copy of its
# committed seed corpus (and its dictionary, if any), then prints one line:
#   <target> <executions> <seconds> <findings>
# Usage: fuzz-run.sh TARGET [libFuzzer options...], e.g. -max_total_time=30 or
# -runs=1000000. A finding leaves its input in $FUZZ_ARTIFACTS (default: a
# folder under /tmp) and makes the script exit 1.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SANITIZE_BUILD="${GLIMMER_SANITIZE_DIR:-$ROOT/build-sanitize}"
target="$1"
shift

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
artifacts="${FUZZ_ARTIFACTS:-/tmp/glimmer-fuzz-findings}/$target"
mkdir -p "$artifacts" "$work/corpus"
cp "$ROOT/fuzz/corpus/$target/"* "$work/corpus/"
options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/")
if [ -f "$ROOT/fuzz/$target.dict" ]; then options+=(-dict="$ROOT/fuzz/$target.dict"); fi

start=$(date +%s.%N)
status=0
# The extractor changes its working directory while it runs: start it in the
# scratch folder so nothing lands in the tree.
(cd "$work" && "$SANITIZE_BUILD/bin/fuzz_$target" "${options[@]}" "$@" "$work/corpus") \
  >"$work/log" 2>&1 || status=$?
end=$(date +%s.%N)

runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || true)
if [ -z "$runs" ]; then  # stopped by a finding: the last progress line
  runs=$(grep -o '^#[0-9]*' "$work/log" | tail -1 | tr -d '#' || true)
fi
findings=$(find "$artifacts" -type f | wc -l)
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
printf '%-13s %10s %8.1f %3s\n' "$target" "${runs:-0}" "$seconds" "$findings"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  echo "--- fuzz_$target found something (exit $status); inputs in $artifacts" >&2
  tail -40 "$work/log" >&2
  exit 1
fi
