#!/bin/sh
# Installs every Debian 12 package that building, testing, fuzzing,
# benchmarking and packaging hearkener use, the cross-build of the Windows
# program and Wine for its tests included. Idempotent; run as root.
set -eu
PACKAGES="cmake g++ make pkg-config clang libclang-rt-14-dev libgtest-dev \
  libgsm1-dev libspandsp-dev libbcg729-dev libavcodec-dev libavutil-dev \
  libasound2-dev sox libsox-fmt-all ffmpeg espeak-ng sndfile-programs time \
  googletest g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 wine wine64 xz-utils \
  dpkg-dev file man-db groff-base"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi
