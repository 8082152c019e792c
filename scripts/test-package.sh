#!/bin/bash
# Builds the Debian packages hearkener and hearkener-tools from a hardened
# Release build for /usr, checks them with lintian (any error or warning
# fails), installs them on this machine and runs the installed programs as
# an unprivileged user (nobody): hearkener-test-call writes the example
# call, hearkener converts it and decodes framed streams of every codec
# library it loads on first use, tapd-emu serves it to `hearkener -l` and
# to a live recording, and man finds the manual pages. A plain run creates
# no folder; a crash writes its report into the user's state folder, or the
# crashDir of /etc/hearkener/defaults.ini, and names it. Then it purges
# both packages and checks that nothing of them is left.
# One PASS/FAIL line per check; the status is non-zero when one failed.
#
# Usage: scripts/test-package.sh [BUILD_DIR]   (default: build-deb)
# Run as root (dpkg). Packages that were not installed before the run are
# purged again at its end, unless KEEP_PACKAGE=1.
# Environment: JOBS (parallel build jobs, default: number of cores).
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build-deb}
JOBS=${JOBS:-$(nproc)}
KEEP_PACKAGE=${KEEP_PACKAGE:-0}
PACKAGES=(hearkener hearkener-tools)
USER_NAME=nobody

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
die() { echo "FAIL: $*"; exit 1; }

[ "$(id -u)" = 0 ] || die "installing a package needs root"
[ ! -e /etc/hearkener ] || die "/etc/hearkener exists already; this test writes there"

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

work=$(mktemp -d)
emu_pid=""
was_installed=0
for package in "${PACKAGES[@]}"; do
  installed "$package" && was_installed=1
done
cleanup() {
  [ -n "$emu_pid" ] && kill "$emu_pid" 2>/dev/null
  rm -rf "$work" /etc/hearkener/defaults.ini
  rmdir /etc/hearkener 2>/dev/null
  if [ "$was_installed" = 0 ] && [ "$KEEP_PACKAGE" != 1 ]; then
    dpkg --purge "${PACKAGES[@]}" >/dev/null 2>&1
  fi
}
trap cleanup EXIT

# --- build --------------------------------------------------------------------
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DHEARKENER_TESTS=OFF -DHEARKENER_HARDEN=ON >"$work/configure.log" 2>&1 \
  || { cat "$work/configure.log"; die "configure"; }
cmake --build "$BUILD_DIR" -j "$JOBS" --target package_contents >"$work/build.log" 2>&1 \
  || { tail -30 "$work/build.log"; die "build"; }
(cd "$BUILD_DIR" && cpack -G DEB) >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; die "cpack -G DEB"; }
debs=()
for package in "${PACKAGES[@]}"; do
  deb=$(sed -n "s|^CPack: - package: \(.*/${package}_[^/]*\.deb\) generated\.$|\1|p" \
    "$work/cpack.log")
  [ -f "$deb" ] || die "cpack made no package $package"
  debs+=("$(realpath "$deb")")
  pass "built $(basename "$deb")"
  echo "     Depends: $(dpkg-deb -f "$deb" Depends)"
done

# --- lintian ------------------------------------------------------------------
if lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}" \
     >"$work/lintian.log" 2>&1; then
  pass "lintian: no errors, no warnings"
  sed 's/^/     /' "$work/lintian.log"
else
  cat "$work/lintian.log"
  fail "lintian found errors or warnings"
fi

# --- install --------------------------------------------------------------------
varlib_before=$(ls -A /var/lib)
# apt pulls in what is missing; --reinstall replaces packages of the same
# version built before.
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  --reinstall "${debs[@]}" >"$work/apt.log" 2>&1 \
  || { cat "$work/apt.log"; die "apt-get install ${debs[*]}"; }
pass "installed with apt-get"

for program in hearkener tapd-emu hearkener-test-call; do
  if [ "$(command -v "$program")" = "/usr/bin/$program" ]; then
    pass "$program is /usr/bin/$program"
  else
    fail "$program is not /usr/bin/$program ($(command -v "$program"))"
  fi
done
[ ! -e /usr/bin/make_test_call ] || fail "/usr/bin/make_test_call is installed"
[ -f /usr/share/doc/hearkener/examples/defaults.ini ] \
  || fail "no /usr/share/doc/hearkener/examples/defaults.ini"

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

# --- the programs, as an unprivileged user ------------------------------------
# Everything of the user is in $work: an empty home and an empty state folder.
mkdir -p "$work/home" "$work/state" "$work/run"
chown -R "$USER_NAME" "$work"
chmod 755 "$work"
# setpriv and env exec the program, so $! of `"${as_user[@]}" PROGRAM &`
# is the program itself.
as_user=(setpriv --reuid="$USER_NAME" --regid=nogroup --init-groups --
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_STATE_HOME="$work/state")
run="$work/run"
cd "$run" || die "cd $run"

if "${as_user[@]}" hearkener-test-call example.wav >/dev/null; then
  pass "hearkener-test-call wrote example.wav"
else
  fail "hearkener-test-call example.wav: status $?"
fi

"${as_user[@]}" hearkener -i example.wav -F out.wav 2>"$run/convert.err"
status=$?
info=$(sox --i "$run/out.wav" 2>&1)
if [ "$status" = 0 ] && grep -q "Channels *: 2" <<<"$info" \
   && grep -q "Sample Rate *: 8000" <<<"$info" && grep -q "A-law" <<<"$info" \
   && grep -q "Duration *: 00:00:06.00" <<<"$info"; then
  pass "hearkener -i example.wav -F out.wav: 6 s of two-channel 8 kHz A-law"
else
  fail "hearkener -i example.wav -F out.wav: status $status; $(cat "$run/convert.err") $info"
fi

# Each codec library hearkener loads on first use, through the package's
# dependencies: a library that cannot be loaded makes the run end with -8.
for codecs in g729,gsm g722,g726-32; do
  if ! "${as_user[@]}" tapd-emu --write "framed-$codecs.wav" \
       --queue "c=example.wav:framed:$codecs" 2>"$run/emu-write.err"; then
    fail "tapd-emu --write framed:$codecs: $(cat "$run/emu-write.err")"
    continue
  fi
  "${as_user[@]}" hearkener -i "framed-$codecs.wav" -F "decoded-$codecs.wav" 2>"$run/decode.err"
  status=$?
  if [ "$status" = 0 ] && [ ! -s "$run/decode.err" ]; then
    pass "hearkener decodes framed $codecs"
  else
    fail "hearkener decodes framed $codecs: status $status; $(cat "$run/decode.err")"
  fi
done

# The emulator's port, once it listens; "" when it did not start.
emulator_port() {
  local port=""
  for _ in $(seq 50); do
    port=$(sed -n 's/^tapd-emu: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$run/emu.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  echo "$port"
}

"${as_user[@]}" tapd-emu --port 0 --fast --queue demo=example.wav >"$run/emu.out" 2>"$run/emu.err" &
emu_pid=$!
port=$(emulator_port)
if [ -z "$port" ]; then
  fail "tapd-emu did not start: $(cat "$run/emu.err")"
else
  list=$("${as_user[@]}" hearkener -h 127.0.0.1 -p "$port" -l 2>"$run/list.err")
  status=$?
  if [ "$status" = 0 ] && [ "$list" = demo ]; then
    pass "hearkener -l lists the queue demo of tapd-emu"
  else
    fail "hearkener -l: status $status, output '$list'; $(cat "$run/list.err")"
  fi
  "${as_user[@]}" timeout 30 hearkener -h 127.0.0.1 -p "$port" -q demo -F live.wav 2>"$run/live.err"
  status=$?
  if [ "$status" = 0 ] && sox --i "$run/live.wav" 2>/dev/null | grep -q "Duration *: 00:00:06.00"; then
    pass "hearkener -q demo -F live.wav recorded the 6 s call"
  else
    fail "hearkener -q demo -F live.wav: status $status; $(cat "$run/live.err")"
  fi

  # No run above made a folder: the home and state folders stay empty, and
  # /var/lib holds what it held before the packages came.
  if [ -z "$(ls -A "$work/home" "$work/state" | grep -v ':$')" ] \
     && [ "$(ls -A /var/lib)" = "$varlib_before" ]; then
    pass "the runs created no folder (home, state folder, /var/lib)"
  else
    fail "a run created a folder: $(find "$work/home" "$work/state" -mindepth 1) $(diff <(echo "$varlib_before") <(ls -A /var/lib))"
  fi

  # A crash (SIGSEGV while `-t` waits for the stream) writes its report into
  # the user's state folder and names it; with crashDir in
  # /etc/hearkener/defaults.ini, there.
  crash() {  # NAME: crashes one run; its stderr in $run/NAME.err
    "${as_user[@]}" hearkener -t -h 127.0.0.1 -p "$port" -F "$1.wav" 2>"$run/$1.err" &
    local pid=$!
    sleep 1
    kill -SEGV "$pid"
    wait "$pid" 2>/dev/null
  }
  check_crash() {  # NAME FOLDER
    local report
    report=$(find "$2" -name 'Crash-hearkener-*' 2>/dev/null | head -1)
    if [ -n "$report" ] && grep -q "^signal: 11 (SIGSEGV)" "$report" \
       && grep -qx "hearkener: crash report written to $report" "$run/$1.err" \
       && [ "$(stat -c %U "$report")" = "$USER_NAME" ]; then
      pass "a crash ($1) wrote and named $report"
    else
      fail "a crash ($1) left no report in $2: $(cat "$run/$1.err")"
    fi
  }
  crash state
  check_crash state "$work/state/hearkener/crashes"
  mkdir -p /etc/hearkener
  printf 'crashDir = "%s"\n' "$work/configured-crashes" >/etc/hearkener/defaults.ini
  crash configured
  check_crash configured "$work/configured-crashes"
  rm -f /etc/hearkener/defaults.ini
  rmdir /etc/hearkener

  kill "$emu_pid"
  wait "$emu_pid"
  status=$?
  emu_pid=""
  if [ "$status" = 0 ]; then
    pass "tapd-emu stopped by SIGTERM with status 0"
  else
    fail "tapd-emu stopped with status $status: $(cat "$run/emu.err")"
  fi
fi

# A Docker image may keep dpkg from unpacking manual pages.
if grep -qs "^path-exclude=/usr/share/man" /etc/dpkg/dpkg.cfg.d/*; then
  echo "SKIP: manual pages (dpkg excludes /usr/share/man on this machine)"
else
  for page in hearkener tapd-emu hearkener-test-call; do
    if [ "$(man -w "$page" 2>&1)" = "/usr/share/man/man1/$page.1.gz" ] \
       && man "$page" 2>/dev/null | grep -q "^EXIT STATUS"; then
      pass "man $page"
    else
      fail "man -w $page: $(man -w "$page" 2>&1)"
    fi
  done
fi

# --- purge ------------------------------------------------------------------------
if [ "$was_installed" = 0 ] && [ "$KEEP_PACKAGE" != 1 ]; then
  dpkg --purge "${PACKAGES[@]}" >"$work/purge.log" 2>&1 \
    || { cat "$work/purge.log"; fail "dpkg --purge ${PACKAGES[*]}"; }
  left=""
  for package in "${PACKAGES[@]}"; do
    dpkg -L "$package" >/dev/null 2>&1 && left+=" $package (dpkg -L)"
    [ -e "/usr/share/doc/$package" ] && left+=" /usr/share/doc/$package"
  done
  for path in /usr/bin/hearkener /usr/bin/tapd-emu /usr/bin/hearkener-test-call \
              /etc/hearkener; do
    [ -e "$path" ] && left+=" $path"
  done
  [ "$(ls -A /var/lib)" = "$varlib_before" ] || left+=" new in /var/lib"
  if [ -z "$left" ]; then
    pass "purged both packages; nothing of them is left"
  else
    fail "left after purge:$left"
  fi
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) of the Debian packages failed"
  exit 1
fi
echo "all checks of the Debian packages passed"
