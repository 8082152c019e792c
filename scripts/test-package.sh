#!/bin/bash
# Builds the Debian package from a Release build, installs it on this
# machine and runs the installed programs once: make_test_call writes the
# example call, hearkener converts it and decodes framed streams of every
# codec library it loads on first use, tapd-emu serves it to
# `hearkener -l` and to a live recording, and man finds the manual page.
# One PASS/FAIL line per check; the status is non-zero when one failed.
#
# Usage: scripts/test-package.sh [BUILD_DIR]   (default: build, as CI)
# Run as root (dpkg). A package that was not installed before the run is
# removed again at its end, unless KEEP_PACKAGE=1.
# Environment: JOBS (parallel build jobs, default: number of cores).
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build}
JOBS=${JOBS:-$(nproc)}
KEEP_PACKAGE=${KEEP_PACKAGE:-0}

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

[ "$(id -u)" = 0 ] || die "installing a package needs root"

work=$(mktemp -d)
emu_pid=""
was_installed=0
dpkg-query -W -f='${Status}' hearkener 2>/dev/null | grep -q "install ok installed" \
  && was_installed=1
cleanup() {
  [ -n "$emu_pid" ] && kill "$emu_pid" 2>/dev/null
  rm -rf "$work"
  if [ "$was_installed" = 0 ] && [ "$KEEP_PACKAGE" != 1 ]; then
    dpkg -r hearkener >/dev/null 2>&1
  fi
}
trap cleanup EXIT

# The package: CPack installs into /usr whatever the prefix, but a build
# whose `cmake --install` also goes to /usr is what Debian users expect.
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; die "configure"; }
cmake --build "$BUILD_DIR" -j "$JOBS" >"$work/build.log" 2>&1 \
  || { tail -30 "$work/build.log"; die "build"; }
(cd "$BUILD_DIR" && cpack -G DEB) >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; die "cpack -G DEB"; }
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$work/cpack.log")
[ -f "$deb" ] || die "cpack named no .deb"
pass "built $(basename "$deb")"
echo "     Depends: $(dpkg-deb -f "$deb" Depends)"

# apt pulls in what is missing; --reinstall replaces a package of the same
# version built before.
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  --reinstall "$(realpath "$deb")" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; die "apt-get install $deb"; }
pass "installed with apt-get"

for program in hearkener tapd-emu make_test_call; do
  if [ "$(command -v "$program")" = "/usr/bin/$program" ]; then
    pass "$program is /usr/bin/$program"
  else
    fail "$program is not /usr/bin/$program ($(command -v "$program"))"
  fi
done

# The systemd unit names the installed program; systemd-analyze checks it
# where it is available (no running systemd is needed).
unit=/usr/lib/systemd/system/hearkener@.service
if grep -q "^ExecStart=/usr/bin/hearkener .*--follow" "$unit" 2>/dev/null \
   && [ -f /usr/share/doc/hearkener/examples/hearkener.conf ]; then
  pass "$unit and the example hearkener.conf"
else
  fail "$unit or /usr/share/doc/hearkener/examples/hearkener.conf"
fi
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/units"
  ln -sf "$unit" "$work/units/hearkener@sales.service"
  if systemd-analyze verify --man=no "$work/units/hearkener@sales.service" \
       >"$work/verify.log" 2>&1 && [ ! -s "$work/verify.log" ]; then
    pass "systemd-analyze verify hearkener@sales.service"
  else
    fail "systemd-analyze verify: $(cat "$work/verify.log")"
  fi
fi

cd "$work"
if /usr/bin/make_test_call example.wav; then
  pass "make_test_call wrote example.wav"
else
  fail "make_test_call example.wav: status $?"
fi

/usr/bin/hearkener -i example.wav -F out.wav 2>convert.err
status=$?
info=$(sox --i out.wav 2>&1)
if [ "$status" = 0 ] && grep -q "Channels *: 2" <<<"$info" \
   && grep -q "Sample Rate *: 8000" <<<"$info" && grep -q "A-law" <<<"$info" \
   && grep -q "Duration *: 00:00:06.00" <<<"$info"; then
  pass "hearkener -i example.wav -F out.wav: 6 s of two-channel 8 kHz A-law"
else
  fail "hearkener -i example.wav -F out.wav: status $status; $(cat convert.err) $info"
fi

# Each codec library hearkener loads on first use, through the package's
# dependencies: a library that cannot be loaded makes the run end with -8.
for codecs in g729,gsm g722,g726-32; do
  if ! /usr/bin/tapd-emu --write "framed-$codecs.wav" \
       --queue "c=example.wav:framed:$codecs" 2>emu-write.err; then
    fail "tapd-emu --write framed:$codecs: $(cat emu-write.err)"
    continue
  fi
  /usr/bin/hearkener -i "framed-$codecs.wav" -F "decoded-$codecs.wav" 2>decode.err
  status=$?
  if [ "$status" = 0 ] && [ ! -s decode.err ]; then
    pass "hearkener decodes framed $codecs"
  else
    fail "hearkener decodes framed $codecs: status $status; $(cat decode.err)"
  fi
done

/usr/bin/tapd-emu --port 0 --fast --queue demo=example.wav >emu.out 2>emu.err &
emu_pid=$!
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/^tapd-emu: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' emu.out)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "tapd-emu did not start: $(cat emu.err)"
else
  list=$(/usr/bin/hearkener -h 127.0.0.1 -p "$port" -l 2>list.err)
  status=$?
  if [ "$status" = 0 ] && [ "$list" = demo ]; then
    pass "hearkener -l lists the queue demo of tapd-emu"
  else
    fail "hearkener -l: status $status, output '$list'; $(cat list.err)"
  fi
  timeout 30 /usr/bin/hearkener -h 127.0.0.1 -p "$port" -q demo -F live.wav 2>live.err
  status=$?
  if [ "$status" = 0 ] && sox --i live.wav 2>/dev/null | grep -q "Duration *: 00:00:06.00"; then
    pass "hearkener -q demo -F live.wav recorded the 6 s call"
  else
    fail "hearkener -q demo -F live.wav: status $status; $(cat live.err)"
  fi
  kill "$emu_pid"
  wait "$emu_pid"
  status=$?
  emu_pid=""
  if [ "$status" = 0 ]; then
    pass "tapd-emu stopped by SIGTERM with status 0"
  else
    fail "tapd-emu stopped with status $status: $(cat emu.err)"
  fi
fi

# A Docker image may keep dpkg from unpacking manual pages.
if grep -qs "^path-exclude=/usr/share/man" /etc/dpkg/dpkg.cfg.d/*; then
  echo "SKIP: manual pages (dpkg excludes /usr/share/man on this machine)"
else
  for page in hearkener tapd-emu make_test_call; do
    if [ "$(man -w "$page" 2>&1)" = "/usr/share/man/man1/$page.1.gz" ] \
       && man "$page" 2>/dev/null | grep -q "^EXIT STATUS"; then
      pass "man $page"
    else
      fail "man -w $page: $(man -w "$page" 2>&1)"
    fi
  done
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) of the Debian package failed"
  exit 1
fi
echo "all checks of the Debian package passed"
