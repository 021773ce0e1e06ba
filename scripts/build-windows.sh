#!/usr/bin/env bash
# The Windows programs, cross-built on Debian with MinGW-w64 into
# build-win64/bin (glimmerfield.exe, glimmer.exe, glimmer-extract.exe) with
# the tests that run under Wine; then the 64-bit installer
# (build-win64/glimmerfield-VERSION-win64-setup.exe, NSIS) and the portable
# zip (build-win64/glimmerfield-VERSION-win64-portable.zip).
#
# Installs the Debian packages that are missing, then builds the libraries
# for MinGW from Debian's own source packages, each into its own prefix keyed
# by its version below GLIMMER_MINGW_CACHE (default
# /var/cache/glimmerfield-mingw): a second run, or a new clone, reuses them.
# The header-only libraries are copied from the build machine's -dev
# packages, GoogleTest built from /usr/src/googletest.
#
#   scripts/build-windows.sh [cmake --build arguments...]
# GLIMMER_WIN_BUILD_DIR   build folder (default build-win64)
# GLIMMER_BUILD_WRAPPER   command each compiling step runs under (a build
#                         lock, say); none by default
# GLIMMER_WIN_TESTS=0     configure without the tests
# GLIMMER_WIN_PACKAGE=0   make neither installer nor zip
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${GLIMMER_WIN_BUILD_DIR:-$ROOT/build-win64}"
CACHE="${GLIMMER_MINGW_CACHE:-/var/cache/glimmerfield-mingw}"
TOOLCHAIN="$ROOT/cmake/x86_64-w64-mingw32.cmake"
HOST=x86_64-w64-mingw32
read -r -a WRAP <<<"${GLIMMER_BUILD_WRAPPER:-}"
# A library's build speaks only when it fails.
quietly() {
  local log
  log="$(mktemp)"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}
JOBS="$(nproc)"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  cmake ninja-build pkg-config make
  # the -posix compilers: GCC 12's -win32 ones have no std::thread
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev libz-mingw-w64-dev
  # the tests and the end-to-end run (its pseudo-terminal in Python); the installer
  wine wine64 python3
  # the installer and the portable zip; the window's end-to-end run on a
  # virtual display (scripts/ci-windows-window.sh)
  nsis zip unzip xvfb openbox xdotool imagemagick
  # Media Foundation under Wine decodes through GStreamer (WAV, MP3); the
  # sound output's tests play into a PulseAudio null sink
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good pulseaudio
  # apt-get source unpacks and patches with dpkg-source
  dpkg-dev
  # the header-only libraries and GoogleTest's sources
  libtomlplusplus-dev nlohmann-json3-dev libcli11-dev libxxhash-dev googletest
)
missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
APT_UPDATED=""
apt_update() {
  if [ -z "$APT_UPDATED" ]; then $SUDO apt-get update -q; APT_UPDATED=1; fi
}
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

$SUDO mkdir -p "$CACHE"
if [ -n "$SUDO" ]; then $SUDO chown "$(id -u):$(id -g)" "$CACHE"; fi
# What an interrupted run left half made: each run's work folders carry its
# process id, and those of a run still going (another clone's) stay.
for left in "$CACHE"/.work-*; do
  [ -e "$left" ] || continue
  pid="${left#"$CACHE"/.work-}"
  pid="${pid%%-*}"
  if ! kill -0 "$pid" 2>/dev/null; then rm -rf "$left"; fi
done

# The version apt would give of a binary package: its source package's
# version too, which keys the prefix built from it.
candidate() { apt-cache policy "$1" | awk '/Candidate:/ { print $2 }'; }
installed() { dpkg-query -W -f='${Version}' "$1"; }

# deb-src lines beside the machine's deb ones (same mirrors and suites), for
# apt-get source; added once, only when a library must be built.
ensure_deb_src() {
  if grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local list=/etc/apt/sources.list.d/glimmerfield-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$list" >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/glimmerfield-deb-src.list >/dev/null
  fi
  APT_UPDATED=""
  apt_update
}

# Source packages whose Debian patches touch nothing built here (qrencode's
# mend its command-line program and its configure call): when a mirror
# lacks their Debian part, the upstream tarball apt fetched does.
UPSTREAM_ENOUGH=(qrencode)

# Fetches Debian's source package $1 at version $2 into a fresh folder and
# prints the unpacked source tree's path.
fetch_source() {
  ensure_deb_src >&2
  local work
  work="$(mktemp -d "$CACHE/.work-$$-src-$1-XXXXXX")"
  if ! (cd "$work" && apt-get source -q --only-source "$1=$2" >&2); then
    upstream_source "$1" "$work" || return 1
  fi
  find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# Unpacks the upstream tarball apt left in folder $2 for package $1 when it
# is one of UPSTREAM_ENOUGH and its checksum is the one the .dsc (which apt
# checked) lists.
upstream_source() {
  local package="$1" work="$2" orig dsc sum
  [[ " ${UPSTREAM_ENOUGH[*]} " == *" $package "* ]] || return 1
  dsc="$(find "$work" -maxdepth 1 -name "${package}_*.dsc" | head -n 1)"
  orig="$(find "$work" -maxdepth 1 -name "${package}_*.orig.tar.*" | head -n 1)"
  if [ -z "$dsc" ] || [ -z "$orig" ]; then return 1; fi
  sum="$(sha256sum "$orig" | cut -d' ' -f1)"
  if ! grep -q "^ $sum [0-9]* $(basename "$orig")\$" "$dsc"; then
    echo "$(basename "$orig") is not the one $(basename "$dsc") lists" >&2
    return 1
  fi
  echo "Building $package from its upstream tarball: the mirror has no Debian part" >&2
  mkdir "$work/$package" && tar -xf "$orig" -C "$work/$package" --strip-components=1
}

# Runs "build_<name> SOURCE PREFIX" unless $CACHE/<name>-<version> exists;
# the prefix appears whole or not at all. Two runs at once (two clones) may
# both build a library; the first to finish keeps its prefix.
PREFIXES=()
with_library() {
  local name="$1" version="$2" source_package="$3"
  local prefix="$CACHE/$name-$version"
  PREFIXES+=("$prefix")
  if [ -d "$prefix" ]; then
    # Made by an earlier version of this script, which left the folder it
    # installed into in the prefix's own files.
    grep -rlF --include='*.pc' --include='*.cmake' --include='*.la' "$CACHE/.staging-" "$prefix" |
      xargs -r sed -i "s|$CACHE/\.staging-[^/\";]*|$prefix|g" || true
    return
  fi
  echo "Building $name $version for MinGW into $prefix"
  local started=$SECONDS
  local source="" staging
  staging="$(mktemp -d "$CACHE/.work-$$-prefix-$name-XXXXXX")"
  if [ -n "$source_package" ]; then source="$(fetch_source "$source_package" "$version")"; fi
  "build_$name" "$source" "$staging"
  if [ -n "$source" ]; then rm -rf "$(dirname "$source")"; fi
  # The prefix is where the libraries' own files say they are installed.
  grep -rlF --include='*.pc' --include='*.cmake' --include='*.la' "$staging" "$staging" |
    xargs -r sed -i "s|$staging|$prefix|g" || true
  if ! mv -T "$staging" "$prefix" 2>/dev/null; then rm -rf "$staging"; fi
  echo "Built $name in $((SECONDS - started)) s"
}

cmake_library() {  # SOURCE PREFIX BUILD [cmake options...]
  local source="$1" prefix="$2" build="$3"
  shift 3
  quietly "${WRAP[@]}" cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
}

configure_library() {  # SOURCE PREFIX [configure options...]
  local source="$1" prefix="$2"
  shift 2
  local cc="$HOST-gcc-posix"
  if command -v ccache >/dev/null && [ -n "${CCACHE_DIR:-}${GLIMMER_BUILD_WRAPPER:-}" ]; then
    cc="ccache $cc"
  fi
  (cd "$source" && "${WRAP[@]}" ./configure -q --host="$HOST" --prefix="$prefix" CC="$cc" \
     --disable-shared --enable-static "$@" >/dev/null &&
   "${WRAP[@]}" make -s -j"$JOBS" >/dev/null && make -s install >/dev/null)
}

build_pugixml() {
  cmake_library "$1" "$2" "$1/build"
  "${WRAP[@]}" cmake --build "$1/build" --parallel "$JOBS" >/dev/null
  cmake --install "$1/build" >/dev/null
}

# Static only, with zlib and Windows' CNG; what the extractor does not use
# (the bsdtar programs, other compressors, XML, encryption libraries) left out.
build_libarchive() {
  local off=()
  for o in MBEDTLS NETTLE OPENSSL LIBB2 LZ4 LZO LZMA ZSTD BZip2 LIBXML2 EXPAT PCREPOSIX \
           LIBGCC TAR CPIO CAT ACL XATTR ICONV TEST WERROR; do
    off+=("-DENABLE_$o=OFF")
  done
  # MinGW has no POSIX regex, which only bsdtar's options use.
  cmake_library "$1" "$2" "$1/build" "${off[@]}" -DENABLE_ZLIB=ON -DENABLE_CNG=ON \
    -DPOSIX_REGEX_LIB=NONE
  "${WRAP[@]}" cmake --build "$1/build" --parallel "$JOBS" --target archive_static >/dev/null
  mkdir -p "$2/lib" "$2/include"
  cp "$1/build/libarchive/libarchive_static.a" "$2/lib/libarchive.a"
  cp "$1/libarchive/archive.h" "$1/libarchive/archive_entry.h" "$2/include/"
}

build_libmicrohttpd() {
  configure_library "$1" "$2" --disable-https --disable-doc --disable-examples --disable-curl \
    --without-gnutls
}

# Debian's source has autogen.sh but no configure script; its CMake files
# build the library as "liblibnova" and leave out the config.h the sources
# include, which says what the C library has. Its MinGW branch asks for a
# 32-bit time_t, which 64-bit Windows refuses, and its stand-in for gmtime_r
# copied only a pointer's worth of the time.
build_libnova() {
  sed -i '/^#define _USE_32BIT_TIME_T$/d' "$1/src/julian_day.c"
  sed -i 's/memcpy(gmt, local_gmt, sizeof (gmt));/memcpy(gmt, local_gmt, sizeof (*gmt));/' \
    "$1/src/utility.c"
  printf '#define HAVE_%s 1\n' ROUND ACOSL ASINL ATAN2L COSL SINL >"$1/src/config.h"
  cmake_library "$1" "$2" "$1/build" -DBUILD_SHARED_LIBRARY=OFF
  quietly "${WRAP[@]}" cmake --build "$1/build" --parallel "$JOBS" --target libnova
  mkdir -p "$2/lib" "$2/include/libnova"
  cp "$(find "$1/build" -name 'liblibnova.a' | head -n 1)" "$2/lib/libnova.a"
  cp "$1"/src/libnova/*.h "$2/include/libnova/"
}

# The library alone: its qrencode program would need libpng.
build_qrencode() {
  cmake_library "$1" "$2" "$1/build" -DWITH_TOOLS=NO -DWITH_TESTS=NO
  quietly "${WRAP[@]}" cmake --build "$1/build" --parallel "$JOBS"
  cmake --install "$1/build" >/dev/null
}

build_googletest() {
  cmake_library /usr/src/googletest "$2" "$2.build" -Dgtest_force_shared_crt=OFF
  "${WRAP[@]}" cmake --build "$2.build" --parallel "$JOBS" >/dev/null
  cmake --install "$2.build" >/dev/null
  rm -rf "$2.build"
}

# toml++, nlohmann-json, CLI11 and xxHash as headers, found the way the
# CMake files look for them.
build_headers() {
  local p="$2"
  mkdir -p "$p/include" "$p/lib/pkgconfig" "$p/lib/cmake/CLI11" "$p/lib/cmake/nlohmann_json"
  cp -r /usr/include/toml++ /usr/include/nlohmann /usr/include/CLI /usr/include/xxhash.h "$p/include/"
  cat >"$p/lib/pkgconfig/tomlplusplus.pc" <<EOF
Name: tomlplusplus
Description: TOML parser, header-only
Version: $(installed libtomlplusplus-dev | cut -d+ -f1)
Cflags: -I$p/include -DTOML_HEADER_ONLY=1
EOF
  cat >"$p/lib/pkgconfig/libxxhash.pc" <<EOF
Name: libxxhash
Description: xxHash, inlined from its header
Version: $(installed libxxhash-dev | cut -d- -f1)
Cflags: -I$p/include -DXXH_INLINE_ALL
EOF
  for package in CLI11 nlohmann_json; do
    cat >"$p/lib/cmake/$package/${package}Config.cmake" <<EOF
if(NOT TARGET $package::$package)
  add_library($package::$package INTERFACE IMPORTED)
  set_target_properties($package::$package PROPERTIES INTERFACE_INCLUDE_DIRECTORIES $p/include)
endif()
EOF
  done
}

with_library pugixml "$(candidate libpugixml-dev)" pugixml
with_library libarchive "$(candidate libarchive-dev)" libarchive
with_library libmicrohttpd "$(candidate libmicrohttpd-dev)" libmicrohttpd
with_library libnova "$(candidate libnova-dev)" libnova
with_library qrencode "$(candidate libqrencode-dev)" qrencode
with_library googletest "$(installed googletest)" ""
headers_key="$(installed libtomlplusplus-dev)_$(installed nlohmann-json3-dev)"
headers_key+="_$(installed libcli11-dev)_$(installed libxxhash-dev)"
with_library headers "$headers_key" ""

WERROR=OFF
if [ "${CI:-}" = true ]; then WERROR=ON; fi
TESTS=ON
if [ "${GLIMMER_WIN_TESTS:-1}" = 0 ]; then TESTS=OFF; fi
prefix_list="$(IFS=';'; echo "${PREFIXES[*]}")"
"${WRAP[@]}" cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DGLIMMER_MINGW_PREFIXES="$prefix_list" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DGLIMMER_WERROR=$WERROR -DBUILD_TESTING=$TESTS >/dev/null
if (($#)); then
  "${WRAP[@]}" cmake --build "$BUILD" --parallel "$JOBS" "$@"
else
  "${WRAP[@]}" cmake --build "$BUILD" --parallel "$JOBS"
fi

# The installer and the portable zip, from stripped copies of the programs
# (the build keeps its debug information). Made again only when a program
# or the installer's script changed.
if [ "${GLIMMER_WIN_PACKAGE:-1}" = 0 ] || [ ! -f "$BUILD/bin/glimmerfield.exe" ]; then exit 0; fi
VERSION="$(sed -n 's/^project(Glimmerfield VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")"
SETUP="$BUILD/glimmerfield-$VERSION-win64-setup.exe"
PORTABLE="$BUILD/glimmerfield-$VERSION-win64-portable.zip"
PROGRAMS=(glimmerfield.exe glimmer.exe glimmer-extract.exe)
NSI="$ROOT/packaging/windows/glimmerfield.nsi"
ICON="$ROOT/shell/win/glimmerfield.ico"
stale=""
for made in "$SETUP" "$PORTABLE"; do
  [ -f "$made" ] || stale=1
  for source in "${PROGRAMS[@]/#/$BUILD/bin/}" "$NSI" "$ICON" "$ROOT/packaging/windows/portable-readme.txt"; do
    if [ -f "$made" ] && [ "$source" -nt "$made" ]; then stale=1; fi
  done
done
if [ -z "$stale" ]; then exit 0; fi
STAGE="$BUILD/package"
rm -rf "$STAGE"
mkdir -p "$STAGE/Glimmerfield"
for program in "${PROGRAMS[@]}"; do
  "$HOST-strip" -o "$STAGE/Glimmerfield/$program" "$BUILD/bin/$program"
done
"${WRAP[@]}" makensis -V2 -NOCD "-DVERSION=$VERSION" "-DBIN=$STAGE/Glimmerfield" "-DICON=$ICON" \
  "-DOUTFILE=$SETUP" "$NSI"
# The portable copy: one folder that keeps its files beside its programs
# wherever it is unpacked (outside Program Files).
cp "$ROOT/packaging/windows/portable-readme.txt" "$STAGE/Glimmerfield/README.txt"
sed -i 's/$/\r/' "$STAGE/Glimmerfield/README.txt"
rm -f "$PORTABLE"
(cd "$STAGE" && zip -q -9 -X -r "$PORTABLE" Glimmerfield)
rm -rf "$STAGE"
echo "Made $(basename "$SETUP") and $(basename "$PORTABLE") in $BUILD"
