#!/bin/bash
# Builds hearkener and runs every test: the Release build (build/), the live
# demo, the Debian packages (build-deb/), the Debug build under AddressSanitizer +
# UndefinedBehaviorSanitizer (build-asan/), the threaded tests under
# ThreadSanitizer (build-tsan/), each libFuzzer target for a bounded time
# (build-fuzz/), and the Windows program's tests under Wine
# (scripts/test-windows.sh; build-win/, the codec libraries cached in
# build-win/deps). The Windows program is cross-built in the background
# while the Linux steps run.
#
# Every test runs once: a test that fails now and then fails the run.
#
# Environment: JOBS (parallel jobs, default: number of cores),
# FUZZ_SECONDS (per fuzz target, default 20; 0 skips fuzzing), WINDOWS
# (1, the default, or 0 to skip the Windows program).
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
WINDOWS=${WINDOWS:-1}

step() { printf '\n=== %s ===\n' "$*"; }

work=$(mktemp -d)
windows_build=""
cleanup() {
  if [ -n "$windows_build" ]; then
    kill -- "-$windows_build" 2>/dev/null || true
    wait "$windows_build" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step "Release build and tests"
# The demo may have configured build/ without the tests.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DHEARKENER_TESTS=ON
cmake --build build -j "$JOBS"
(cd build && ctest --output-on-failure -j "$JOBS")

if [ "$WINDOWS" = 1 ]; then
  # One core; most Linux steps below wait on tests or fuzz on one core. A
  # session of its own, so that a failing run stops the whole build.
  setsid env TESTS=1 JOBS=1 scripts/build-windows.sh build-win \
    >"$work/windows-build.log" 2>&1 &
  windows_build=$!
fi

step "The live demo (README's first command, without its install step)"
scripts/demo.sh build

step "Debian packages: build, lintian, install, run, purge"
# A hardened /usr build of its own (build-deb/); installs the packages on
# this machine (as root) and purges them again.
JOBS=$JOBS scripts/test-package.sh build-deb

step "Debug build with AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHEARKENER_SANITIZE=ON
cmake --build build-asan -j "$JOBS"
(cd build-asan && ctest --output-on-failure -j "$JOBS")

step "ThreadSanitizer build of the threaded tests"
# Run once, without retries: a race that shows only now and then must fail.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DHEARKENER_TSAN=ON
cmake --build build-tsan -j "$JOBS" --target hearkener_tests
threaded='Mutex*:StopControl*:StopE2e*:MainLoop*:QueueList*:QueueExchange*'
threaded+=':Net*:StreamSource*:StreamE2e*:WavFileSource*:*SoundSink*:*Alsa*'
threaded+=':*TapdEmu*'
build-tsan/hearkener_tests --gtest_brief=1 --gtest_filter="$threaded"

if [ "$FUZZ_SECONDS" -gt 0 ]; then
  step "libFuzzer targets, ${FUZZ_SECONDS}s each"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DHEARKENER_FUZZ=ON
  cmake --build build-fuzz -j "$JOBS"
  for src in fuzz/*_fuzzer.cpp; do
    name=$(basename "$src" .cpp)
    corpus="$work/$name"
    mkdir -p "$corpus"
    seeds=()
    [ -d "fuzz/corpus/${name%_fuzzer}" ] && seeds=("fuzz/corpus/${name%_fuzzer}")
    echo "--- $name"
    "build-fuzz/$name" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 \
      -timeout=10 -print_final_stats=0 "$corpus" "${seeds[@]}" 2>"$work/$name.log" \
      || { tail -50 "$work/$name.log"; echo "fuzz target $name failed"; exit 1; }
    grep -E '^#[0-9]+ +DONE' "$work/$name.log" || tail -1 "$work/$name.log"
  done
fi

if [ "$WINDOWS" = 1 ]; then
  step "Windows program: cross-build, unit tests and end-to-end checks under Wine"
  status=0
  wait "$windows_build" || status=$?
  windows_build=""
  if [ "$status" != 0 ]; then
    cat "$work/windows-build.log"
    echo "the Windows build failed"
    exit 1
  fi
  tail -1 "$work/windows-build.log"
  JOBS=$JOBS scripts/test-windows.sh build build-win
fi

step "all tests passed"
