#!/usr/bin/env bash
# CI: glimmerfield.exe as an operator meets it, under Wine on a virtual
# display with a window manager, in a fresh Wine prefix:
#  0. the dialog's own tests (MainDialogTest), which need a display;
#  1. the portable zip unpacked and the window started from it: the caption,
#     the 47-byte default preferences file beside it;
#  2. a sequence archive imported through Add and its real file dialog, the
#     show started (F5) on COM1, which a pseudo-terminal stands behind; the
#     controller messages read from it; stopped (Shift+F5), a screenshot
#     taken, the window closed;
#  3. the installer run silently per user and per machine, the installed
#     copy's data folder checked, and the uninstaller run silently: the
#     programs go, the operator's files stay.
# Needs scripts/build-windows.sh's results in build-win64/ and the Linux
# build's glimmer (its monitor decodes the line).
#
# GLIMMER_WIN_BUILD_DIR  the Windows build folder (default build-win64)
# GLIMMER_BUILD_DIR      the Linux build folder (default build)
# GLIMMER_WINDOW_SHOTS   where the screenshot goes (default build-win64/window-shots)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_WIN_BUILD_DIR:-$ROOT/build-win64}"
LINUX_BIN="${GLIMMER_BUILD_DIR:-$ROOT/build}/bin"
SHOTS="${GLIMMER_WINDOW_SHOTS:-$BUILD/window-shots}"
VERSION="$(sed -n 's/^project(Glimmerfield VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
SETUP="$BUILD/glimmerfield-$VERSION-win64-setup.exe"
PORTABLE="$BUILD/glimmerfield-$VERSION-win64-portable.zip"
started=$(date +%s)
say() { echo "ci-windows-window: $* ($(($(date +%s) - started)) s)"; }
fail() { echo "ci-windows-window: $*" >&2; exit 1; }

for tool in Xvfb openbox xdotool import unzip python3 winepath wineserver; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/prepare.sh installs it)"
done
for made in "$BUILD/bin/glimmerfield.exe" "$BUILD/bin/win_window_tests.exe" "$SETUP" "$PORTABLE" "$LINUX_BIN/glimmer"; do
  [ -f "$made" ] || fail "no $made (scripts/build-windows.sh and ./test.sh make it)"
done

WORK="$(mktemp -d)"
pids=()
main_pid=$BASHPID
cleanup() {
  # Only this script's own exit: a subshell that carries the trap along
  # (a command substitution) must not tear the run down.
  [ "$BASHPID" = "$main_pid" ] || return 0
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX="$WORK/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir -p "$SHOTS"

# Waits up to $1 seconds for the command after it to succeed.
within() {
  local seconds="$1"
  shift
  local deadline=$(($(date +%s) + seconds))
  until "$@" 2>/dev/null; do
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# ---- a display of our own with a window manager ----
Xvfb -screen 0 1280x800x24 -nolisten tcp -displayfd 3 3>"$WORK/display" >/dev/null 2>&1 &
pids+=($!)
within 20 test -s "$WORK/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$WORK/display")"
openbox >/dev/null 2>&1 &
pids+=($!)

# ---- a fresh Wine prefix, its server resident ----
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
"$WINE" wineboot -i >/dev/null 2>&1
wineserver -w
# Spectrum's registration, as on an operator's machine (the window would
# otherwise tell that it is missing); COM1 is the pseudo-terminal below.
"$WINE" reg add 'HKLM\SOFTWARE\Classes\Applications\SpectrumSequencer.exe\shell' \
  /v FriendlyCache /d 'C:\Spectrum\Cache' /f >/dev/null 2>&1
python3 -u "$ROOT/tests/win/line_capture.py" "$WORK/line" >"$WORK/pty" &
pids+=($!)
within 10 test -s "$WORK/pty" || fail "no pseudo-terminal"
"$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$(cat "$WORK/pty")" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p >/dev/null 2>&1
say "Wine prefix ready, COM1 = $(cat "$WORK/pty")"

# ---- the dialog's own tests, which need the display ----
"$WINE" "$BUILD/bin/win_window_tests.exe" --gtest_filter='MainDialogTest.*' \
  >"$WORK/dialog-tests" 2>&1 || { cat "$WORK/dialog-tests" >&2; fail "the dialog's tests failed"; }
say "the dialog's tests passed: $(grep -c '^\[       OK' "$WORK/dialog-tests" || true) run"

# ---- 1. the portable copy ----
mkdir "$WORK/portable"
unzip -q "$PORTABLE" -d "$WORK/portable"
COPY="$WORK/portable/Glimmerfield"
for program in glimmerfield.exe glimmer.exe glimmer-extract.exe README.txt; do
  [ -f "$COPY/$program" ] || fail "the portable zip has no Glimmerfield/$program"
done

window=""
# Starts the window from the portable copy; its status lines go to trace.
start_window() {
  : >"$WORK/trace"
  trace_from=0
  (cd "$COPY" && GLIMMERFIELD_TRACE=1 exec "$WINE" glimmerfield.exe 2>>"$WORK/trace") &
  window_pid=$!
  pids+=("$window_pid")
  window="$(timeout 60 xdotool search --sync --onlyvisible --name '^Glimmerfield Player' | head -n 1)" ||
    fail "the window did not appear"
}
# Windows ends each line with "\r\n". Only what the window traced since the
# last key counts: the status a key leads to may have been shown before it.
trace_from=0
traced() { tail -n "+$((trace_from + 1))" "$WORK/trace" | tr -d '\r' | grep -qxF "$1"; }
wait_traced() { within "${2:-30}" traced "$1" || { cat "$WORK/trace" >&2; fail "never shown: $1"; }; }
# Presses keys in the window (xdotool's key arguments).
press() {
  trace_from=$(wc -l <"$WORK/trace")
  xdotool windowactivate --sync "$window" key "$@"
}
# Closes the window as the operator does and waits for the program to end.
close_window() {
  press --clearmodifiers alt+F4
  # Gone, or ended and not yet reaped.
  within 30 bash -c "[[ \"\$(ps -o stat= -p $window_pid)\" =~ ^(Z|$) ]]" || {
    import -window root "$SHOTS/not-closed.png" 2>/dev/null || true
    tail -n 5 "$WORK/trace" >&2
    fail "the window did not close (its last lines above; the screen in $SHOTS/not-closed.png)"
  }
  local status=0
  wait "$window_pid" || status=$?
  [ "$status" = 0 ] || fail "the window did not close by itself (exit status $status)"
}

start_window
caption="$(xdotool getwindowname "$window")"
[ "$caption" = "Glimmerfield Player (version $VERSION)" ] || fail "caption \"$caption\""
wait_traced "status: Show Scheduler Stopped - Click Start To Resume"
# Start-up writes the file once per list it fills: the last write is the
# default one.
printf '1\r\n115200\r\n5\r\n5:30:00 PM\r\n11:00:00 PM\r\n0\r\nc:\\\r\n' >"$WORK/default-preferences"
within 20 cmp -s "$WORK/default-preferences" "$COPY/preferences.txt" ||
  fail "preferences.txt is not the default one: $(od -c "$COPY/preferences.txt" | head -5)"
say "window up from the portable copy: \"$caption\", preferences.txt $(stat -c %s "$COPY/preferences.txt") bytes beside it"
close_window

# ---- 2. import, show, stop ----
# Tonight's window all day, so the show plays at once.
printf '1\r\n115200\r\n5\r\n12:00:00 AM\r\n11:59:59 PM\r\n0\r\nc:\\\r\n' >"$COPY/preferences.txt"
mkdir "$WORK/show"
python3 "$ROOT/tests/win/make_show.py" "$WORK/show" "$(winepath -w "$WORK/show/song.wav")"
archive="$(winepath -w "$WORK/show/Wine Lights.msq")"
start_window
wait_traced "status: Show Scheduler Stopped - Click Start To Resume"
# Add: Insert, the button's key; then the real file dialog.
press Insert
dialog="$(timeout 30 xdotool search --sync --onlyvisible --name '^Add Sequence To Playlist$' | head -n 1)" ||
  fail "Add did not open the file dialog"
xdotool windowactivate --sync "$dialog" type --delay 5 "$archive"
xdotool key --window "$dialog" Return
wait_traced "status: Ready" 60
grep -qF "Wine Lights" "$COPY/playlist.txt" || fail "the playlist does not list the import"
[ -s "$COPY/Cache/Wine Lights.csq" ] || fail "no compiled sequence in Cache"
say "imported through Add: $(ls "$COPY/Cache")"

press F5
wait_traced "status: Show Running... Press Stop To Stop The Show And/Or Change Settings"
messages() { "$LINUX_BIN/glimmer" monitor - <"$WORK/line" 2>/dev/null | cut -d' ' -f2-; }
within 60 bash -c "\"$LINUX_BIN/glimmer\" monitor - <\"$WORK/line\" 2>/dev/null | grep -q ' fade '" ||
  fail "no light commands arrived on COM1: $(messages | head -5)"
# The window as it plays.
import -window "$window" "$SHOTS/windows-window.png"
press shift+F5
wait_traced "status: Show Scheduler Stopped - Click Start To Resume"
grep -qx '0' <(sed -n 6p "$COPY/preferences.txt" | tr -d '\r') || fail "Stop left the autostart flag set"
messages >"$WORK/messages"
for expected in port-open keep-alive "device 1 fade"; do
  grep -q "^$expected" "$WORK/messages" || fail "no \"$expected\" among the line's messages"
done
say "the show sent $(wc -l <"$WORK/messages") messages on COM1 ($(grep -c ' fade ' "$WORK/messages") fades)"
close_window
say "stopped and closed; screenshot in $SHOTS/windows-window.png"

# ---- 3. the installer and the uninstaller, silently ----
user_dir="$WINEPREFIX/drive_c/users/$(whoami)"
local_data="$user_dir/AppData/Local"
menu="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
installed_check() {  # FOLDER MENU ROOTKEY
  local folder="$1" menu_folder="$2" key="$3"
  for program in glimmerfield.exe glimmer.exe glimmer-extract.exe uninstall.exe; do
    [ -f "$folder/$program" ] || fail "not installed: $folder/$program"
  done
  [ -f "$menu_folder/Glimmerfield Player.lnk" ] || fail "no Start-menu entry in $menu_folder"
  "$WINE" reg query "$key\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerfield" \
    /v UninstallString >/dev/null 2>&1 || fail "no uninstall entry under $key"
  # The installed copy keeps its files in %LOCALAPPDATA%\Glimmerfield.
  (cd "$WORK" && "$WINE" "$folder/glimmer.exe" --help) 2>/dev/null | tr -d '\r' |
    grep -qi 'AppData\\Local\\Glimmerfield' || fail "$folder/glimmer.exe does not use %LOCALAPPDATA%\\Glimmerfield"
}
removed_check() {  # FOLDER MENU ROOTKEY
  local folder="$1" menu_folder="$2" key="$3"
  # The uninstaller runs on from a copy of itself: its work ends later.
  within 60 bash -c "[ ! -e \"$folder/glimmerfield.exe\" ] && [ ! -e \"$folder/uninstall.exe\" ]" ||
    fail "the uninstaller left $folder"
  within 10 bash -c "[ ! -e \"$menu_folder/Glimmerfield Player.lnk\" ]" || fail "the Start-menu entry stayed"
  ! "$WINE" reg query "$key\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerfield" \
    >/dev/null 2>&1 || fail "the uninstall entry stayed under $key"
}

# Per user, with the operator's files in the data folder meanwhile.
"$WINE" "$SETUP" /S /CurrentUser || fail "the per-user installer failed"
per_user="$local_data/Programs/Glimmerfield"
installed_check "$per_user" "$menu" HKCU
mkdir -p "$local_data/Glimmerfield"
printf 'Glimmerfield playlist\r\n' >"$local_data/Glimmerfield/playlist.txt"
"$WINE" "$per_user/uninstall.exe" /S /CurrentUser || fail "the per-user uninstaller failed"
removed_check "$per_user" "$menu" HKCU
[ -f "$local_data/Glimmerfield/playlist.txt" ] || fail "the uninstaller removed the operator's playlist"
say "installed and removed per user; the operator's files stayed"

# Per machine, asking for the show at logon too.
"$WINE" "$SETUP" /S /AllUsers /StartAtLogon || fail "the per-machine installer failed"
per_machine="$WINEPREFIX/drive_c/Program Files/Glimmerfield"
installed_check "$per_machine" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" HKLM
# Set only when the Task Scheduler took the show's task.
"$WINE" reg query 'HKLM\Software\Glimmerfield' /v StartAtLogon 2>/dev/null | grep -q '0x1' ||
  fail "the installer did not set the show to start at logon"
"$WINE" "$per_machine/uninstall.exe" /S /AllUsers || fail "the per-machine uninstaller failed"
removed_check "$per_machine" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" HKLM
say "installed and removed for every user"
say "done"
