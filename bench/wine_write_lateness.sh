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
# Usage: bench/wine_write_lateness.sh [--seconds N] [--runs N]
# Needs build/bin/bench_write_lateness and build-win64/bin/bench_write_lateness.exe
# (GLIMMER_BUILD_DIR and GLIMMER_WIN_BUILD_DIR name other folders).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LINUX="${GLIMMER_BUILD_DIR:-$ROOT/build}/bin/bench_write_lateness"
WIN_BUILD="${GLIMMER_WIN_BUILD_DIR:-$ROOT/build-win64}"
WINDOWS="$WIN_BUILD/bin/bench_write_lateness.exe"
seconds=60 runs=3
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--runs N]" >&2; exit 2 ;;
  esac
done
for program in "$LINUX" "$WINDOWS"; do
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
p99() { sed -n 's/.*p99 \([0-9.-]*\) ms.*/\1/p' "$1"; }

"$WINE" wineboot -i >/dev/null 2>&1 || true
wineserver -w
best_linux="" best_windows=""
for run in $(seq "$runs"); do
  drain
  "$LINUX" --device "$device" --seconds "$seconds" --baud 115200 >"$work/linux.out"
  undrain
  drain
  # Wine reads the COM ports from the registry when its server starts.
  "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1
  "$WINE" "$WINDOWS" --device COM1 --seconds "$seconds" --baud 115200 >"$work/windows.out"
  undrain
  echo "== run $run: Linux build"; cat "$work/linux.out"
  echo "== run $run: Windows build under Wine"; tr -d '\r' <"$work/windows.out"
  l="$(p99 "$work/linux.out")" w="$(p99 "$work/windows.out")"
  best_linux="$(printf '%s\n' $best_linux "$l" | sort -g | head -n 1)"
  best_windows="$(printf '%s\n' $best_windows "$w" | sort -g | head -n 1)"
done
echo "best of $runs, write lateness p99: Linux $best_linux ms, Windows under Wine $best_windows ms"
