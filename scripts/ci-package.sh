#!/usr/bin/env bash
# CI, after ./test.sh: the Debian package builds, unpacks into a temporary
# root, and its glimmer runs from there as an installed copy; a build without
# the window (and without Qt) passes the core tests.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_BUILD_DIR:-$ROOT/build}"
CORE="${GLIMMER_CORE_BUILD_DIR:-$ROOT/build-core}"

rm -f "$BUILD"/glimmerfield_*.deb
(cd "$BUILD" && cpack -G DEB)
deb=$(ls "$BUILD"/glimmerfield_*.deb)
dpkg-deb --field "$deb" Package Version Depends

unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
dpkg -x "$deb" "$unpacked"
for f in usr/bin/glimmer usr/bin/glimmerfield usr/libexec/glimmerfield/glimmer-extract \
         usr/share/applications/glimmerfield.desktop usr/lib/systemd/user/glimmer-show.service \
         usr/share/doc/glimmerfield/README.md usr/share/doc/glimmerfield/serial_ports.md; do
  test -e "$unpacked/$f" || { echo "missing from the package: /$f"; exit 1; }
done
help="$(XDG_DATA_HOME="$unpacked/data" "$unpacked/usr/bin/glimmer" --help)"
echo "$help"
# Run from the package's layout it is the installed copy: its files go to the
# data folder, not beside it.
grep -qF "$unpacked/data/glimmerfield" <<<"$help" || { echo "glimmer did not pick the data folder"; exit 1; }

cmake -S "$ROOT" -B "$CORE" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMER_WINDOW=OFF \
      -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON
cmake --build "$CORE" --parallel "$(nproc)"
(cd "$CORE" && ctest --output-on-failure --parallel "$(nproc)")
