#!/bin/sh
# Cross-builds the Windows program with mingw-w64: hearkener.exe and
# make_test_call.exe in BUILD_DIR (default build-win), static, needing only
# system DLLs; run them with `wine`. With TESTS=1 it also builds the test
# program (hearkener_tests.exe, run by `ctest` in BUILD_DIR under Wine) and
# the crash injector of scripts/test-windows.sh.
#
#   scripts/build-windows.sh [BUILD_DIR]
#
# Installs what is missing of mingw-w64 and Wine (needs root only then),
# cross-builds the codec libraries into BUILD_DIR/deps once (kept while their
# recipe is the same), then configures and builds. Environment: JOBS
# (parallel jobs, default 2), BUILD_TYPE (default Release), TESTS (0 or 1,
# default 0).
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
TESTS=${TESTS:-0}

die() {
  echo "build-windows: $*" >&2
  exit 1
}

PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 wine wine64 cmake make xz-utils googletest"
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
  -DHEARKENER_TESTS="$([ "$TESTS" = 1 ] && echo ON || echo OFF)"
if [ "$TESTS" = 1 ]; then
  cmake --build "$BUILD" -j "$JOBS"
  echo "build-windows: built the programs and the tests in $BUILD"
else
  cmake --build "$BUILD" -j "$JOBS" --target hearkener make_test_call
  echo "build-windows: built $BUILD/hearkener.exe and $BUILD/make_test_call.exe"
fi
