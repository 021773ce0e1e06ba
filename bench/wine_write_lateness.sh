#!/usr/bin/env bash
# The player's write lateness, the Linux build and the Windows build under
# Wine side by side in one run: bench_write_lateness plays the same dense
# sequence into a pseudo-terminal, once natively and once as
# bench_write_lateness.exe on COM1 (Wine's mapping to a pseudo-terminal),
# alternating, best of several. Prints each run's figures and the best p99 of
# each side.
#
# Both at 115200 baud: Wine's serial driver has no 56000 (it gives 38400,
# which the port refuses).
#
# Usage: bench/wine_write_lateness.sh [--seconds N] [--runs N] [--before-windows DIR]
# Needs build/bin/bench_write_lateness and build-win64/bin/bench_write_lateness.exe
# (GLIMMER_BUILD_DIR and GLIMMER_WIN_BUILD_DIR name other folders).
# --before-windows DIR  also plays DIR/bin/bench_write_lateness.exe (an
#                       earlier Windows build) in each run, beside the
#                       current one, so a change is judged under the same load.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LINUX="${GLIMMER_BUILD_DIR:-$ROOT/build}/bin/bench_write_lateness"
WIN_BUILD="${GLIMMER_WIN_BUILD_DIR:-$ROOT/build-win64}"
WINDOWS="$WIN_BUILD/bin/bench_write_lateness.exe"
seconds=60 runs=3 before=""
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --before-windows) before="$2/bin/bench_write_lateness.exe"; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--runs N] [--before-windows DIR]" >&2; exit 2 ;;
  esac
done
for program in "$LINUX" "$WINDOWS" $before; do
  test -f "$program" || { echo "no $program: build it first" >&2; exit 1; }
done

export WINEPREFIX="${WINEPREFIX:-$WIN_BUILD/wine-bench-prefix}" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
work="$(mktemp -d)"
drain_pid=""
cleanup() {
  if [ -n "$drain_pid" ]; then kill "$drain_pid" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A drained pseudo-terminal; sets $device to it.
drain() {
  rm -f "$work/pty"
  python3 -u "$ROOT/scripts/pty_capture.py" /dev/null >"$work/pty" &
  drain_pid=$!
  for _ in $(seq 50); do [ -s "$work/pty" ] && break; sleep 0.1; done
  device="$(cat "$work/pty")"
}
undrain() { kill "$drain_pid"; wait "$drain_pid" || true; drain_pid=""; }
p99() { sed -n 's/^lateness at the port write: .* p99 \([0-9.-]*\) ms.*/\1/p' "$1"; }

# Plays Windows program $1 on COM1 into $2.
play_windows() {
  drain
  # Wine reads the COM ports from the registry when its server starts.
  "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1
  # A server of our own start, so its farewell does not land in the figures.
  wineserver -p >/dev/null 2>&1
  "$WINE" "$1" --device COM1 --seconds "$seconds" --baud 115200 | tr -d '\r' >"$2"
  undrain
}
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }

"$WINE" wineboot -i >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1
best_linux="" best_windows="" best_before=""
for run in $(seq "$runs"); do
  drain
  "$LINUX" --device "$device" --seconds "$seconds" --baud 115200 >"$work/linux.out"
  undrain
  # The two Windows builds take turns at going first.
  if [ -n "$before" ] && ((run % 2 == 0)); then play_windows "$before" "$work/before.out"; fi
  play_windows "$WINDOWS" "$work/windows.out"
  if [ -n "$before" ] && ((run % 2 == 1)); then play_windows "$before" "$work/before.out"; fi
  echo "== run $run (load $(cut -d' ' -f1-3 /proc/loadavg)): Linux build"; cat "$work/linux.out"
  echo "== run $run: Windows build under Wine"; cat "$work/windows.out"
  best_linux="$(lowest $best_linux "$(p99 "$work/linux.out")")"
  best_windows="$(lowest $best_windows "$(p99 "$work/windows.out")")"
  if [ -n "$before" ]; then
    echo "== run $run: the earlier Windows build under Wine"; cat "$work/before.out"
    best_before="$(lowest $best_before "$(p99 "$work/before.out")")"
  fi
done
echo "best of $runs, write lateness p99: Linux $best_linux ms, Windows under Wine $best_windows ms"
if [ -n "$before" ]; then echo "the earlier Windows build under Wine: $best_before ms"; fi
