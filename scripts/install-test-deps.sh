#!/bin/sh
# Installs what the tests need beyond scripts/install-deps.sh: GoogleTest,
# clang for fuzzing and the thread-safety checks, ffmpeg, sox's other
# formats and sndfile-programs to compare with, the packaging tools
# (dpkg-dev, lintian, man-db), and the cross-build of the Windows program
# with Wine for its tests (about 1 GB). Idempotent; run as root.
set -eu
PACKAGES="clang libclang-rt-14-dev libgtest-dev googletest \
  libsox-fmt-all ffmpeg sndfile-programs time file xz-utils \
  dpkg-dev lintian man-db groff-base \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 wine wine64"
"$(dirname "$0")/install-packages.sh" $PACKAGES
