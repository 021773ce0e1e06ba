#!/usr/bin/env bash
# CI, after ./test.sh: the extractor, compile, show and log on hostile input
# under the limits a user's machine has (an address space limit; a small
# full disk where this machine lets us mount one). Each check is a command
# in a fresh process that must end, with the exit code and words expected.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${GLIMMER_BUILD_DIR:-$ROOT/build}/bin"
SEEDS="$ROOT/fuzz/corpus/extractor"
work="$(mktemp -d)"
mounted=""
cleanup() {
  if [[ -n "$mounted" ]]; then umount "$mounted" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
# In bytes: prlimit of util-linux 2.38 crashes on a size with a suffix.
AS=$((1 << 30))

# check NAME EXPECTED-CODE EXPECTED-WORDS -- COMMAND...
check() {
  local name="$1" code="$2" words="$3"
  shift 4
  local out rc=0
  out="$(timeout -k 5 60 prlimit --as="$AS" -- "$@" 2>&1)" || rc=$?
  if [[ "$rc" != "$code" || "$out" != *"$words"* ]]; then
    printf 'FAIL %-34s exit %s (want %s): %s\n' "$name" "$rc" "$code" "${out:0:400}"
    failed=1
  else
    printf 'ok   %-34s exit %s\n' "$name" "$rc"
  fi
}

# A RAR header whose size wraps the offset back onto itself: ends at once.
cp "$SEEDS/rar_size_wraps" "$work/wrap.msq"
check extractor-size-wraps 1 "Cannot read the archive" -- \
  "$BIN/glimmer-extract" X -o+ "$work/wrap.msq" "$work/out1/"
check compile-size-wraps 1 "is damaged or is not an archive" -- "$BIN/glimmer" compile "$work/wrap.msq" "$work/a.csq"

# A sparse 2 GiB entry in a tar.xz of a few hundred bytes: stops at the limit,
# leaves nothing.
truncate -s 2G "$work/bomb"
tar -C "$work" -cJSf "$work/bomb.msq" bomb
rm "$work/bomb"
check extractor-sparse-bomb 1 "unpacks to more than the limit of 512 MB for the sequence document" -- \
  "$BIN/glimmer-extract" X -o+ "$work/bomb.msq" "$work/out2/"
if [[ -n "$(find "$work/out2" -type f)" ]]; then
  echo "FAIL extractor-sparse-bomb left files"
  failed=1
fi

# A document the tree must read (UTF-16), larger than the tree's bound:
# refused before it is parsed. One below it, under a tight address space:
# out of memory is said as such.
make_utf16() {  # FILE MEGABYTES
  {
    printf '<?xml version="1.0"?><Sequence><AudioFile><Title>T</Title><Artist>A</Artist>'
    printf '<FilePath>/a.wav</FilePath></AudioFile><Controller><ControllerID>1</ControllerID>'
    { yes '<a/>' || true; } | head -n "$(($2 << 18))" | tr -d '\n'
    printf '</Controller></Sequence>\n'
  } | iconv -f UTF-8 -t UTF-16 >"$1"
}
make_utf16 "$work/large" 40
check compile-tree-bound 1 "which is allowed up to 64 MB" -- \
  "$BIN/glimmer" compile "$work/large" "$work/b.csq"
make_utf16 "$work/tight" 20
AS=$((300 << 20)) check compile-out-of-memory 1 "not enough memory" -- \
  "$BIN/glimmer" compile "$work/tight" "$work/c.csq"

# A cache file far larger than its header's row count allows: refused
# before it is read.
mkdir -p "$work/show"
cp "$ROOT/fuzz/corpus/cache/jingle_bells.csq" "$work/show/big.csq"
truncate -s 10G "$work/show/big.csq"
check dump-sparse-cache 1 "after the last of" -- "$BIN/glimmer" dump "$work/show/big.csq"

# One show per folder: a second show names the first and does not start.
printf '1\r\n115200\r\n5\r\n12:00:00 AM\r\n11:59:59 PM\r\n0\r\nc:\\\r\n' >"$work/show/preferences.txt"
check show-second-on-folder 1 "A show already runs on the folder" -- \
  flock "$work/show/show.lock" "$BIN/glimmer" show --dir "$work/show" --device /dev/null
check show-empty-playlist 1 "" -- "$BIN/glimmer" show --dir "$work/show" --device /dev/null \
  --wait-for-devices 0

# The log of several generations, summed up.
for g in 5 4 3 2 1; do
  printf '2026-12-%02d 18:00:00 +0100 Show started (autostart)\n' "$((20 - g))" >"$work/show/show.log.$g"
done
check log-generations 0 "2026-12-15" -- "$BIN/glimmer" log --dir "$work/show" --nights 10

# A full disk, where this machine lets us mount a small one.
mkdir -p "$work/full"
if mount -t tmpfs -o size=1m tmpfs "$work/full" 2>/dev/null; then
  mounted="$work/full"
  head -c 3000000 /dev/urandom >"$work/Show"
  tar -C "$work" -cf "$work/Show.msq" Show
  check extractor-full-disk 1 "is full" -- \
    "$BIN/glimmer-extract" X -o+ "$work/Show.msq" "$work/full/Temp/"
  if [[ -n "$(find "$work/full" -type f)" ]]; then
    echo "FAIL extractor-full-disk left files"
    failed=1
  fi
else
  echo "skip extractor-full-disk: no tmpfs can be mounted here"
fi
exit $failed
