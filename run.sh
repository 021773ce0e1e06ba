#!/usr/bin/env bash
# Builds the player (installing what is missing) and starts it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$ROOT/scripts/prepare.sh"
exec "$BUILD/bin/glimmerfield" "$@"
