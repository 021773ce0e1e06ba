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
# The bridge runs while fd 3 stays open. Nothing started from here may
# inherit it: a resident wineserver would hold it past the command, and the
# bridge, waited for on the way out, would never see its end.
exec 3>"$dir/in"
finish() {
  exec 3>&-
  wait "$bridge" || true
  rm -rf "$dir"
}
trap finish EXIT
read -r writer reader <"$dir/names"
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$writer" /f >/dev/null 2>&1 3>&-
wine reg add 'HKLM\Software\Wine\Ports' /v COM6 /d "$reader" /f >/dev/null 2>&1 3>&-
wineserver -k 3>&- || true
wineserver -w 3>&-
wineserver -p 3>&- >>"${GLIMMER_WINESERVER_LOG:-/dev/null}" 2>&1
unplug=$(winepath -w "$dir/unplug" 3>&- 2>/dev/null)
GLIMMER_COM_BRIDGE="5 6 $unplug" "$@" 3>&-
