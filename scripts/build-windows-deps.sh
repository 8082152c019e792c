#!/bin/sh
# Cross-builds the codec libraries of the Windows program into PREFIX as
# static libraries, from Debian's own source packages: libgsm, bcg729,
# spandsp's G.722 coder and FFmpeg's G.726 decoder (libavcodec, libavutil).
#
#   scripts/build-windows-deps.sh PREFIX
#
# PREFIX ends up holding include/, lib/ and a stamp naming the recipe; a
# PREFIX whose stamp names this recipe is kept as it is (a CI cache), any
# other one of ours is rebuilt from scratch. A directory that is not ours is
# never touched. Needs mingw-w64, make, cmake and apt-get; not root: the
# source entries and indexes apt-get reads live in a private directory.
#
# Environment: JOBS (parallel jobs, default 2), HEARKENER_APT_SOURCES (the
# apt source file the deb-src entry is derived from: a deb822 "*.sources"
# file or a one-line list; default /etc/apt/sources.list.d/debian.sources,
# else /etc/apt/sources.list).
set -eu

# Bump whenever a step below changes what ends up in PREFIX.
RECIPE="hearkener-windows-deps 1: libgsm bcg729 spandsp-g722 ffmpeg-g726-decoder"
STAMP_NAME=.hearkener-windows-deps

die() {
  echo "build-windows-deps: $*" >&2
  exit 1
}

[ $# -eq 1 ] || die "usage: $0 PREFIX"
case "$1" in
  /*) PREFIX=$1 ;;
  *) PREFIX=$(pwd)/$1 ;;
esac
PREFIX=${PREFIX%/}
[ -n "$PREFIX" ] || die "PREFIX must not be /"
STAMP=$PREFIX/$STAMP_NAME

if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$RECIPE" ]; then
  echo "build-windows-deps: $PREFIX is up to date ($RECIPE)"
  exit 0
fi
if [ -e "$PREFIX" ] && [ ! -f "$STAMP" ] &&
  [ -n "$(ls -A "$PREFIX" 2>/dev/null)" ]; then
  die "$PREFIX exists, is not empty and was not made by this script"
fi

HOST=x86_64-w64-mingw32
CC="$HOST-gcc-posix"
JOBS=${JOBS:-2}
APT_SOURCES=${HEARKENER_APT_SOURCES:-/etc/apt/sources.list.d/debian.sources}
HERE=$(cd "$(dirname "$0")" && pwd)
TOOLCHAIN=$HERE/../cmake/mingw-w64-x86_64.cmake

for tool in "$CC" "$HOST-ar" "$HOST-ranlib" make cmake apt-get; do
  command -v "$tool" >/dev/null || die "$tool not found (scripts/build-windows.sh installs it)"
done
if [ -z "${HEARKENER_APT_SOURCES:-}" ] && [ ! -f "$APT_SOURCES" ] &&
  [ -f /etc/apt/sources.list ]; then
  APT_SOURCES=/etc/apt/sources.list
fi
[ -f "$APT_SOURCES" ] || die "no apt source entry at $APT_SOURCES"
[ -f "$TOOLCHAIN" ] || die "no toolchain file at $TOOLCHAIN"

mkdir -p "$(dirname "$PREFIX")"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/hearkener-windows-deps.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
STAGE=$PREFIX.partial
rm -rf "$STAGE"
mkdir -p "$STAGE/include" "$STAGE/lib"
log() { echo "build-windows-deps: $* ($(date +%T))"; }

# Sources: the machine's own Debian entry, as deb-src, in a private apt
# directory, so that the system's apt configuration stays as it is.
log "fetching the source packages"
APT=$WORK/apt
mkdir -p "$APT/sources.list.d" "$APT/lists/partial" "$APT/cache/archives/partial"
case "$APT_SOURCES" in
  *.sources)
    sed -n '/^Types:/,$p' "$APT_SOURCES" | sed 's/^Types:.*/Types: deb-src/' \
      >"$APT/sources.list.d/deb-src.sources"
    grep -q '^Types: deb-src' "$APT/sources.list.d/deb-src.sources" ||
      die "no deb822 entry in $APT_SOURCES"
    ;;
  *)  # one-line format: each "deb" line once more as "deb-src"
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$APT_SOURCES" \
      >"$APT/sources.list.d/deb-src.list"
    [ -s "$APT/sources.list.d/deb-src.list" ] || die "no deb line in $APT_SOURCES"
    ;;
esac
set -- -o Dir::Etc::SourceList=/dev/null \
  -o Dir::Etc::SourceParts="$APT/sources.list.d" \
  -o Dir::State::Lists="$APT/lists" -o Dir::Cache="$APT/cache" \
  -o Dir::State::Status=/dev/null -o APT::Sandbox::User="$(id -un)"
apt-get "$@" -q update >"$WORK/apt-update.log" 2>&1 ||
  { cat "$WORK/apt-update.log" >&2; die "apt-get update failed"; }
SRC=$WORK/src
mkdir -p "$SRC"
(cd "$SRC" && apt-get "$@" -q source --tar-only libgsm bcg729 spandsp ffmpeg) \
  >"$WORK/apt-source.log" 2>&1 ||
  { cat "$WORK/apt-source.log" >&2; die "apt-get source failed"; }
for tarball in "$SRC"/*.orig.tar.*; do
  tar -xf "$tarball" -C "$SRC"
done
unpacked() {
  set -- "$SRC"/$1
  [ -d "$1" ] || die "no unpacked source matches $1"
  echo "$1"
}

# libgsm: its own Makefile builds the static library.
log "libgsm"
GSM=$(unpacked 'gsm-1.0-*')
make -C "$GSM" -s CC="$CC -ansi -pedantic" AR="$HOST-ar" RANLIB="$HOST-ranlib" \
  lib/libgsm.a
cp "$GSM/inc/gsm.h" "$STAGE/include/"
cp "$GSM/lib/libgsm.a" "$STAGE/lib/"

# bcg729: CMake; its headers need BCG729_STATIC in every consumer.
log "bcg729"
BCG729=$(unpacked 'bcg729-*')
cmake -S "$BCG729" -B "$WORK/bcg729-build" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$STAGE" \
  -DENABLE_SHARED=NO -DENABLE_STATIC=YES >"$WORK/bcg729.log" 2>&1 ||
  { cat "$WORK/bcg729.log" >&2; die "bcg729 configure failed"; }
cmake --build "$WORK/bcg729-build" -j "$JOBS" >>"$WORK/bcg729.log" 2>&1 &&
  cmake --install "$WORK/bcg729-build" >>"$WORK/bcg729.log" 2>&1 ||
  { cat "$WORK/bcg729.log" >&2; die "bcg729 build failed"; }

# spandsp: configure only for config.h (libtiff is not needed by G.722), then
# the G.722 coder and its one helper; consumers define LIBSPANDSP_EXPORTS.
log "spandsp (G.722)"
SPANDSP=$(unpacked 'spandsp-*')
(cd "$SPANDSP" && ./configure --host=$HOST --disable-shared CC="$CC" \
  ac_cv_header_tiffio_h=yes ac_cv_lib_tiff_TIFFOpen=yes \
  ac_cv_func_malloc_0_nonnull=yes ac_cv_func_realloc_0_nonnull=yes) \
  >"$WORK/spandsp.log" 2>&1 ||
  { cat "$WORK/spandsp.log" >&2; die "spandsp configure failed"; }
for file in g722 vector_int; do
  (cd "$SPANDSP/src" && $CC -O2 -DHAVE_CONFIG_H -DLIBSPANDSP_EXPORTS -I. \
    -c $file.c -o "$WORK/$file.o")
done
"$HOST-ar" rcs "$STAGE/lib/libspandsp.a" "$WORK/g722.o" "$WORK/vector_int.o"
mkdir -p "$STAGE/include/spandsp/private"
cp "$SPANDSP/src/spandsp/telephony.h" "$SPANDSP/src/spandsp/g722.h" \
  "$STAGE/include/spandsp/"
cp "$SPANDSP/src/spandsp/private/g722.h" "$STAGE/include/spandsp/private/"

# FFmpeg: the G.726 decoder alone, in static libavcodec and libavutil.
log "ffmpeg (G.726 decoder)"
FFMPEG=$(unpacked 'ffmpeg-*')
mkdir -p "$WORK/ffmpeg-build"
(cd "$WORK/ffmpeg-build" && "$FFMPEG/configure" --prefix="$STAGE" \
  --target-os=mingw32 --arch=x86_64 --cross-prefix=$HOST- --cc="$CC" \
  --enable-static --disable-shared --disable-everything \
  --enable-decoder=adpcm_g726 --disable-programs --disable-doc \
  --disable-x86asm --disable-avdevice --disable-avformat --disable-avfilter \
  --disable-swscale --disable-swresample --disable-postproc \
  --disable-network --disable-autodetect) >"$WORK/ffmpeg.log" 2>&1 ||
  { cat "$WORK/ffmpeg.log" >&2; die "ffmpeg configure failed"; }
make -C "$WORK/ffmpeg-build" -j "$JOBS" >>"$WORK/ffmpeg.log" 2>&1 &&
  make -C "$WORK/ffmpeg-build" install >>"$WORK/ffmpeg.log" 2>&1 ||
  { tail -50 "$WORK/ffmpeg.log" >&2; die "ffmpeg build failed"; }
rm -rf "$STAGE/share/ffmpeg"

for lib in gsm bcg729 spandsp avcodec avutil; do
  [ -f "$STAGE/lib/lib$lib.a" ] || die "lib$lib.a was not built"
done
echo "$RECIPE" >"$STAGE/$STAMP_NAME"
rm -rf "$PREFIX"
mv "$STAGE" "$PREFIX"
log "done: $PREFIX"
