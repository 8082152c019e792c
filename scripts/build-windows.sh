#!/bin/sh
# Cross-builds the Windows program with mingw-w64: hearkener.exe and
# make_test_call.exe in BUILD_DIR (default build-win), static, needing only
# system DLLs; run them with `wine`.
#
#   scripts/build-windows.sh [BUILD_DIR]
#
# Installs what is missing of mingw-w64 and Wine (needs root only then),
# cross-builds the codec libraries into BUILD_DIR/deps once (kept while their
# recipe is the same), then configures and builds. Environment: JOBS
# (parallel jobs, default 2), BUILD_TYPE (default Release).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/.." && pwd)
BUILD=${1:-build-win}
case "$BUILD" in
  /*) ;;
  *) BUILD=$(pwd)/$BUILD ;;
esac
JOBS=${JOBS:-2}
BUILD_TYPE=${BUILD_TYPE:-Release}

die() {
  echo "build-windows: $*" >&2
  exit 1
}

PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 wine wine64 cmake make xz-utils"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing="$missing $p"
done
if [ -n "$missing" ]; then
  [ "$(id -u)" -eq 0 ] || die "missing packages:$missing (run as root to install them)"
  echo "build-windows: installing$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
fi

"$HERE/build-windows-deps.sh" "$BUILD/deps"

cmake -S "$SOURCE" -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$SOURCE/cmake/mingw-w64-x86_64.cmake" \
  -DHEARKENER_WINDOWS_DEPS="$BUILD/deps" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" \
  -DHEARKENER_TESTS=OFF
cmake --build "$BUILD" -j "$JOBS" --target hearkener make_test_call
echo "build-windows: built $BUILD/hearkener.exe and $BUILD/make_test_call.exe"
