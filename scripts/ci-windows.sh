#!/usr/bin/env bash
# CI: the Windows programs, cross-built with MinGW-w64 (scripts/build-windows.sh),
# their tests run under Wine with one resident wineserver, then the same show
# both ways: glimmer.exe and the Linux build's glimmer compile one sequence
# (the compiled files must be the same bytes) and play it into a
# pseudo-terminal (COM1 under Wine), whose messages must be the same, in the
# same order. Needs the Linux build in build/ (./test.sh makes it first).
#
# GLIMMER_WIN_BUILD_DIR  the Windows build folder (default build-win64)
# GLIMMER_BUILD_DIR      the Linux build folder (default build)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_WIN_BUILD_DIR:-$ROOT/build-win64}"
LINUX_BIN="${GLIMMER_BUILD_DIR:-$ROOT/build}/bin"
started=$(date +%s)
elapsed() { echo "$(($(date +%s) - started)) s"; }

"$ROOT/scripts/build-windows.sh"
echo "ci-windows: built in $(elapsed)"

# A prefix of our own, its server kept running: each program then starts in
# a fraction of a second instead of seconds. No Mono or Gecko installers.
export WINEPREFIX="$BUILD/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WORK="$(mktemp -d)"
capture_pid=""
cleanup() {
  if [ -n "$capture_pid" ]; then kill "$capture_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  pulseaudio --kill 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
# The sound output's tests play into a null sink of a PulseAudio server of
# this run's own, which Wine's audio driver finds through XDG_RUNTIME_DIR
# (the programs below play with --silent).
export XDG_RUNTIME_DIR="$WORK/pulse-run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
pulseaudio --start -n --exit-idle-time=-1 --load=module-native-protocol-unix \
  "--load=module-null-sink sink_name=glimmer_win_test" 2>/dev/null
# A server left resident by an earlier run in this prefix would keep the
# wait below waiting for good.
wineserver -k 2>/dev/null || true
"$WINE" wineboot -i >/dev/null 2>&1
# A second server refuses to start (exit 2) while wineboot's lingers.
wineserver -w
# The resident server prints every object it still holds when it ends,
# thousands of lines: they go to a file of their own, not CI's output.
export GLIMMER_WINESERVER_LOG="$BUILD/wineserver.log"
: >"$GLIMMER_WINESERVER_LOG"
wineserver -p >>"$GLIMMER_WINESERVER_LOG" 2>&1

# The serial port's tests write through COM5 into COM6, which a bridge joins.
"$ROOT/tests/win/with_com_bridge.sh" \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 300 --parallel "$(nproc)"
echo "ci-windows: tests passed under Wine in $(elapsed)"

if [ ! -x "$BUILD/bin/glimmer.exe" ]; then
  echo "ci-windows: no glimmer.exe: the Windows serial port, clock and processes are not" \
       "in this tree, so the end-to-end run cannot be made" >&2
  exit 1
fi
for program in glimmer glimmer-extract; do
  test -x "$LINUX_BIN/$program" || { echo "ci-windows: no $LINUX_BIN/$program (run ./test.sh)" >&2; exit 1; }
done

# One song's sequence: 3 s of silence and two controllers whose eight
# channels change every 50 ms, as a sequencer's grid puts them.
python3 - "$WORK" <<'EOF'
import os, struct, sys
work = sys.argv[1]
rate, seconds = 44100, 3
frames = rate * seconds
with open(os.path.join(work, "song.wav"), "wb") as f:
    data = bytes(frames * 4)
    f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE")
    f.write(b"fmt " + struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16))
    f.write(b"data" + struct.pack("<I", len(data)) + data)
def element(indent, name, text):
    return f"{indent}<{name}>{text}</{name}>\n"
x = '<?xml version="1.0" encoding="UTF-8"?>\n<Sequence>\n  <AudioFile>\n'
x += element("    ", "Title", "Wine Carol") + element("    ", "Artist", "CI")
x += element("    ", "FilePath", "song.wav") + "  </AudioFile>\n  <Controllers>\n"
for controller in (1, 2):
    x += "    <Controller>\n" + element("      ", "ControllerID", controller) + "      <Channels>\n"
    for channel in range(1, 9):
        x += "        <Channel>\n" + element("          ", "ChannelNumber", channel)
        x += "          <TimeIntervals>\n"
        for step in range(0, seconds * 20 - 2):
            level = (step * 37 + channel * 11 + controller * 5) % 256
            x += "            <TimeInterval>\n"
            x += element("              ", "PositionInSamples", step * rate // 20)
            x += element("              ", "Effect", 1 + 2 * ((step + channel) % 2))
            x += element("              ", "IntensityIn", level)
            x += element("              ", "IntensityOut", 255 - level)
            x += "            </TimeInterval>\n"
        x += "          </TimeIntervals>\n        </Channel>\n"
    x += "      </Channels>\n    </Controller>\n"
x += "  </Controllers>\n</Sequence>\n"
open(os.path.join(work, "show.xml"), "w").write(x)
EOF

# The compiled sequence, byte for byte, whichever build made it.
# Each says what it did on standard error, shown when it fails.
run_quietly() {
  "$@" >"$WORK/said" 2>&1 || { cat "$WORK/said" >&2; echo "ci-windows: failed: $*" >&2; exit 1; }
}
(cd "$WORK" && run_quietly "$LINUX_BIN/glimmer" compile --audio song.wav show.xml linux.csq)
(cd "$WORK" && run_quietly "$WINE" "$BUILD/bin/glimmer.exe" compile --audio song.wav show.xml windows.csq)
cmp "$WORK/linux.csq" "$WORK/windows.csq"
echo "ci-windows: glimmer.exe compiled the same $(stat -c %s "$WORK/linux.csq") bytes as glimmer"

# A pseudo-terminal that keeps what arrives on it (prints the device).
capture() {
  python3 -u "$ROOT/scripts/pty_capture.py" "$1" &
  capture_pid=$!
}
# The messages without their arrival times.
messages() { "$LINUX_BIN/glimmer" monitor - <"$1" 2>/dev/null | cut -d' ' -f2-; }

capture "$WORK/linux.line" >"$WORK/linux.pty"
sleep 1
run_quietly "$LINUX_BIN/glimmer" play --silent --device "$(cat "$WORK/linux.pty")" \
  "$WORK/linux.csq" "$WORK/song.wav"
kill "$capture_pid"; wait "$capture_pid" || true; capture_pid=""

# Wine reads the COM ports from the registry when its server starts.
capture "$WORK/windows.line" >"$WORK/windows.pty"
sleep 1
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$(cat "$WORK/windows.pty")" /f >/dev/null
wineserver -k 2>/dev/null || true
wineserver -p >>"$GLIMMER_WINESERVER_LOG" 2>&1
(cd "$WORK" && run_quietly "$WINE" "$BUILD/bin/glimmer.exe" play --silent --device COM1 \
   windows.csq song.wav)
kill "$capture_pid"; wait "$capture_pid" || true; capture_pid=""

messages "$WORK/linux.line" >"$WORK/linux.messages"
messages "$WORK/windows.line" >"$WORK/windows.messages"
if ! cmp -s "$WORK/linux.messages" "$WORK/windows.messages"; then
  echo "ci-windows: glimmer.exe play sent other messages than glimmer play:" >&2
  diff "$WORK/linux.messages" "$WORK/windows.messages" | head -20 >&2
  exit 1
fi
echo "ci-windows: glimmer.exe play sent glimmer play's $(wc -l <"$WORK/linux.messages")" \
     "messages on COM1, in the same order"
"$ROOT/scripts/ci-windows-window.sh"
echo "ci-windows: done in $(elapsed)"
