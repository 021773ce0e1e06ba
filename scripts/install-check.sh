#!/usr/bin/env bash
# Installs a built package into a fresh minimal Debian 12 root, as a user of
# a clean machine would ("apt install ./glimmerfield_*.deb"), and runs the
# player there: the demo, the saved show without a window, and (with the
# window in the package) the window on an offscreen display. A root of
# another architecture runs under qemu-user-static.
#   scripts/install-check.sh ARCH DEB      (ARCH: amd64 or arm64)
# Needs root (mmdebstrap's chroot mode) and a reachable Debian mirror.
set -euo pipefail
arch="$1"
deb="$(realpath "$2")"
mirror="${GLIMMER_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
root="$(mktemp -d /tmp/glimmer-root-$arch.XXXXXX)"

# Run inside the finished root, with /proc and /dev from mmdebstrap.
checks="$root.checks.sh"
trap 'rm -rf "$root" "$checks"' EXIT
cat >"$checks" <<'CHECKS'
set -eu
echo "== $(dpkg --print-architecture) root: $(grep PRETTY_NAME /etc/os-release)"
glimmer --version
test -f /usr/share/man/man1/glimmer.1.gz
test -f /usr/share/doc/glimmerfield/copyright
echo "== glimmer demo --silent"
glimmer demo --silent --seconds 4 | tail -n 3
if [ -x /usr/bin/glimmerfield ]; then
  echo "== glimmerfield without a display"
  if env -u DISPLAY -u WAYLAND_DISPLAY glimmerfield; then echo "it did not refuse"; exit 1; fi
  echo "== glimmerfield on an offscreen display, closed after 5 s"
  set +e
  QT_QPA_PLATFORM=offscreen timeout 5 glimmerfield
  status=$?
  set -e
  # 124: still running when timeout stopped it, as a window should be.
  [ "$status" -eq 124 ] || { echo "glimmerfield ended with $status"; exit 1; }
  test -f /root/.local/share/glimmerfield/preferences.txt
  echo "the window ran; it wrote /root/.local/share/glimmerfield/preferences.txt"
fi
echo "== glimmer show on a device that is no serial line: exits 1 saying why"
set +e
glimmer show --device /dev/null --wait-for-devices 0
status=$?
set -e
[ "$status" -eq 1 ] || { echo "glimmer show ended with $status"; exit 1; }
echo "== apt remove leaves the user's files"
apt-get remove -y -q glimmerfield >/dev/null
test ! -e /usr/bin/glimmer
ls /root/.local/share/glimmerfield
CHECKS

start=$(date +%s)
mmdebstrap --quiet --mode=root --variant=apt --architectures="$arch" \
  --customize-hook="copy-in $deb $checks /tmp" \
  --customize-hook="chroot \"\$1\" sh -c 'apt-get install -y -q /tmp/$(basename "$deb") 2>&1 | grep -E \"^(Setting up glimmerfield|[0-9]+ upgraded)\"'" \
  --customize-hook="chroot \"\$1\" du -sm /usr | sed 's/^/MB in \\/usr after install: /'" \
  --customize-hook="chroot \"\$1\" sh /tmp/$(basename "$checks")" \
  bookworm "$root" "$mirror"
echo "install check on $arch passed in $(( $(date +%s) - start )) s"
