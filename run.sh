#!/usr/bin/env bash
# Builds the player (installing what is missing) and starts it. Without a
# display there is no window to open: the demo show runs in the terminal.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$ROOT/scripts/prepare.sh"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD/bin/glimmerfield" "$@"
fi
echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset), so the player's window cannot open."
echo "Running the demo show in this terminal instead: build/bin/glimmer demo"
echo
exec "$BUILD/bin/glimmer" demo "$@"
