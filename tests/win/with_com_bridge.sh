#!/bin/bash
# Runs a command (a Windows test under wine) with COM5 and COM6 of the Wine
# prefix joined by a null-modem bridge, as the serial port tests need, and
# GLIMMER_COM_BRIDGE telling them so. COM1 stays free for the end-to-end run.
# Wine reads its port mapping when the prefix's server starts, so the server
# is restarted here, and left resident (`wineserver -p`) for the command.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
mkfifo "$dir/in" "$dir/names"
python3 "$here/com_bridge.py" "$dir/unplug" <"$dir/in" >"$dir/names" &
bridge=$!
exec 3>"$dir/in"  # the bridge runs while this stays open
finish() {
  exec 3>&-
  wait "$bridge" || true
  rm -rf "$dir"
}
trap finish EXIT
read -r writer reader <"$dir/names"
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$writer" /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$reader" /f >/dev/null 2>&1
wineserver -k || true
wineserver -w
wineserver -p
GLIMMER_COM_BRIDGE="5 6 $(winepath -w "$dir/unplug" 2>/dev/null)" "$@"
