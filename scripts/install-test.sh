#!/usr/bin/env bash
# Install checks on a finished normal build (scripts/test.sh runs it):
#   1. staged install (DESTDIR) used alone, with the build tree's libraries out
#      of reach: register, add a printer, print to the virtual printer, build
#      and run a consumer through pkg-config and through find_package, and the
#      bad-input cases of an installed tool;
#   2. the Debian package: built, its contents and control data checked, lintian;
#   3. as root on a machine without an OPOS store of its own (CI): installed,
#      checked, removed, purged.
# Prints "ok NAME" / "FAIL NAME" per check and "install: P passed, F failed".
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build-test-normal}")
passed=0
failed=0
ok() { echo "ok   $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1${2:+: $2}"; failed=$((failed + 1)); }
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1; shift
  local out
  if out=$("$@" 2>&1); then ok "$name"; else fail "$name" "$(tail -n 5 <<<"$out")"; fi
}

WORK=$(mktemp -d /tmp/opos-install-XXXXXX)
chmod 755 "$WORK"
STAGE=$WORK/stage
hidden=()
VPID=""
cleanup() {
  [ -n "$VPID" ] && { kill "$VPID" 2>/dev/null; wait "$VPID" 2>/dev/null; }
  for f in "${hidden[@]}"; do mv -f "$f.hidden" "$f"; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# --- 1. the staged tree -------------------------------------------------------
if ! DESTDIR=$STAGE cmake --install "$BUILD" --prefix /usr --strip >"$WORK/install.log" 2>&1; then
  fail "staged install" "$(tail -n 5 "$WORK/install.log")"
  echo "install: $passed passed, $((failed + 1)) failed"; exit 1
fi
ok "staged install"
P=$STAGE/usr
BIN=$P/bin
LIBDIR=$(dirname "$(find "$P" -name 'libopos-control.so' | head -n 1)")
PLUGINS=$LIBDIR/opos

# Nothing of the build tree may be reachable: its libraries and model copies go
# away for the run, and no staged file may name the build tree.
while IFS= read -r f; do hidden+=("$f"); mv "$f" "$f.hidden"; done < <(
  find "$BUILD" \( -name '*.so' -o -name '*.so.*' -o -name '*.inf' \) ! -name '*.hidden' \( -type f -o -type l \))
runpaths() {
  local f
  for f in "$BIN"/* "$LIBDIR"/*.so.* "$PLUGINS"/*.so; do
    readelf -d "$f" | grep -E 'RUNPATH|RPATH' | grep -v -E '\[\$ORIGIN(/\.\.)?(/[a-z0-9_/-]*)?\]$' && return 1
  done
  ! grep -rlF "$BUILD" "$STAGE"
}
check "staged files name no build path, RUNPATH relative" runpaths
layout() {
  local f
  for f in "$BIN/opos" "$BIN/devsetup" "$BIN/vprinter" "$PLUGINS/libserialso.so" "$PLUGINS/libparallelso.so" \
           "$PLUGINS/libusbso.so" "$P/include/opos/pos_printer.h" "$P/include/opos/cash_drawer.h" \
           "$LIBDIR/pkgconfig/opos-control.pc" "$LIBDIR/cmake/OposControl/OposControlConfig.cmake" \
           "$P/share/opos/models/KLP_QMT500.inf" "$P/share/man/man1/opos.1.gz" "$P/share/man/man1/devsetup.1.gz" \
           "$P/share/man/man1/vprinter.1.gz"; do
    [ -e "$f" ] || { echo "missing $f"; return 1; }
  done
  readelf -d "$LIBDIR/libopos-control.so" | grep -q 'SONAME.*libopos-control.so.1' &&
    readelf -d "$LIBDIR/libopos-msgqueue.so" | grep -q 'SONAME.*libopos-msgqueue.so.1'
}
check "staged layout, SONAMEs and man pages" layout

unset OPOS_PORT_DIR OPOS_SYSFS_ROOT LD_LIBRARY_PATH
export OPOS_REGISTRY=$WORK/registry.db
export OPOS_PORT_DIR=$WORK/ports
mkdir -p "$OPOS_PORT_DIR"
register() {
  local lib
  for lib in serialso parallelso usbso; do "$BIN/opos" regsvr "$PLUGINS/lib$lib.so" || return 1; done
  [ "$("$BIN/opos" reg export 'HKCR' | grep -c "InprocServer32" )" -ge 6 ] &&
    [ "$("$BIN/opos" reg export 'HKCR' | grep -cF "$PLUGINS/lib")" -eq 6 ]
}
check "staged opos registers the staged libraries" register

mkfifo "$WORK/vprinter.out"
"$BIN/vprinter" --link "$OPOS_PORT_DIR/com1" --capture "$WORK/capture.bin" >"$WORK/vprinter.out" 2>"$WORK/vprinter.err" &
VPID=$!
read -r -t 10 _ _ <"$WORK/vprinter.out" || fail "staged vprinter starts" "$(cat "$WORK/vprinter.err")"
add_printer() {
  [ "$("$BIN/devsetup" add QMT500S)" = QMT500S ] &&
    "$BIN/devsetup" set POSPrinter QMT500S Port COM1 &&
    "$BIN/devsetup" ldn add POSPrinter QMT500S Receipt &&
    "$BIN/devsetup" list | grep -q Receipt
}
check "staged devsetup adds a printer from the staged models" add_printer
printed() { grep -qaF "$1" "$WORK/capture.bin"; }
check "staged opos prints a receipt to the virtual printer" \
  bash -c "'$BIN/opos' print --device Receipt 'Staged receipt' && grep -qaF 'Staged receipt' '$WORK/capture.bin'"

consumer_pc() {
  local pc
  pc=$(PKG_CONFIG_PATH=$LIBDIR/pkgconfig pkg-config --cflags --libs opos-control) || return 1
  # shellcheck disable=SC2086
  g++ -std=c++20 -o "$WORK/consumer-pc" tests/install/consumer/main.cpp $pc -Wl,-rpath,"$LIBDIR" &&
    "$WORK/consumer-pc" Receipt "pkg-config consumer" && printed "pkg-config consumer"
}
check "consumer built with pkg-config prints" consumer_pc
consumer_cmake() {
  cmake -S tests/install/consumer -B "$WORK/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$P" >/dev/null &&
    cmake --build "$WORK/consumer-build" >/dev/null &&
    "$WORK/consumer-build/consumer" Receipt "find_package consumer" && printed "find_package consumer"
}
check "consumer built with find_package prints" consumer_cmake

# Bad input: a clear message naming the path, exit 1, nothing written.
expect_failure() {  # expect_failure TEXT COMMAND...: exit 1 and TEXT in the message
  local text=$1; shift
  local out rc
  out=$("$@" 2>&1); rc=$?
  [ "$rc" -eq 1 ] && grep -qF -- "$text" <<<"$out" || { echo "exit $rc: $out"; return 1; }
}
bad_store() {
  expect_failure "$WORK/missing.db" "$BIN/devsetup" --registry "$WORK/missing.db" list &&
    expect_failure "$WORK/missing.db" "$BIN/devsetup" --registry="$WORK/missing.db" show POSPrinter QMT500S &&
    expect_failure "$WORK/missing.db" "$BIN/opos" --registry "$WORK/missing.db" reg export &&
    [ ! -e "$WORK/missing.db" ] || return 1
  # A store the user may read but not write.
  local before
  before=$("$BIN/opos" reg export)
  chmod 644 "$OPOS_REGISTRY"*
  expect_failure "$OPOS_REGISTRY" setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$BIN/devsetup" --registry "$OPOS_REGISTRY" add QMT500S &&
    [ "$("$BIN/opos" reg export)" = "$before" ]
}
check "missing or unwritable store: named, exit 1, nothing written" bad_store
bad_models() {
  local before
  before=$("$BIN/opos" reg export)
  expect_failure "$WORK/no-models" "$BIN/devsetup" --models "$WORK/no-models" add QMT500S &&
    [ "$("$BIN/opos" reg export)" = "$before" ] &&
    expect_failure "$WORK/no-models" "$BIN/devsetup" -r "$WORK/fresh.db" --models="$WORK/no-models" add QMT500S &&
    [ ! -e "$WORK/fresh.db" ]
}
check "missing model folder: named, exit 1, nothing written" bad_models
stale_library() {
  mv "$PLUGINS/libserialso.so" "$WORK/libserialso.so"
  expect_failure "$PLUGINS/libserialso.so" "$BIN/opos" print --device Receipt "never printed"
  local rc=$?
  # A registration whose file is gone can still be removed, and made again.
  "$BIN/opos" regsvr -u "$PLUGINS/libserialso.so" || rc=1
  mv "$WORK/libserialso.so" "$PLUGINS/libserialso.so"
  expect_failure "$PLUGINS/libserialso.so" "$BIN/opos" regsvr -u "$PLUGINS/libserialso.so" || rc=1
  "$BIN/opos" regsvr "$PLUGINS/libserialso.so" >/dev/null || rc=1
  ! printed "never printed" && return $rc
}
check "registered library gone: named, exit 1; unregister still works" stale_library
kill "$VPID"; wait "$VPID" 2>/dev/null; VPID=""

# The build tree's libraries come back before the package is made from it.
for f in "${hidden[@]}"; do mv -f "$f.hidden" "$f"; done
hidden=()

# --- 2. the Debian package ----------------------------------------------------
DEB=""
if (cd "$BUILD" && cpack -G DEB >"$WORK/cpack.log" 2>&1); then
  DEB=$(ls -t "$BUILD"/opos_*.deb | head -n 1)
  ok "package builds ($(basename "$DEB"))"
else
  fail "package builds" "$(tail -n 5 "$WORK/cpack.log")"
fi
if [ -n "$DEB" ]; then
  contents() {
    local list f
    list=$(dpkg-deb -c "$DEB") || return 1
    for f in ./usr/bin/opos ./usr/bin/devsetup ./usr/bin/vprinter ./usr/lib/opos/libserialso.so \
             ./usr/lib/opos/libparallelso.so ./usr/lib/opos/libusbso.so ./usr/lib/libopos-control.so.1 \
             ./usr/include/opos/control_object.h ./usr/lib/pkgconfig/opos-control.pc \
             ./usr/share/opos/models/CashDrawer.inf ./usr/share/man/man1/devsetup.1.gz \
             ./usr/lib/udev/rules.d/60-opos.rules ./usr/lib/tmpfiles.d/opos.conf ./usr/share/doc/opos/copyright; do
      grep -qF " $f" <<<"$list" || { echo "missing $f"; return 1; }
    done
  }
  check "package contents (dpkg-deb -c)" contents
  control() {
    local info
    info=$(dpkg-deb -I "$DEB") || return 1
    grep -q ' postinst' <<<"$info" && grep -q ' prerm' <<<"$info" && grep -q ' postrm' <<<"$info" &&
      grep -q '^ Depends:.*passwd' <<<"$info" && grep -q '^ Depends:.*libsqlite3' <<<"$info" &&
      dpkg-deb -I "$DEB" postinst | grep -q 'regsvr' && dpkg-deb -I "$DEB" prerm | grep -q 'regsvr -u'
  }
  check "package control data and maintainer scripts (dpkg-deb -I)" control
  if command -v lintian >/dev/null; then
    # Errors fail the check; warnings are shown.
    lintian --tag-display-limit 0 "$DEB" 2>&1 | grep -E '^[EW]:' | tee "$WORK/lintian.log" | sed 's/^/  lintian: /'
    lintian_errors() { ! grep '^E:' "$WORK/lintian.log"; }
    check "lintian finds no errors" lintian_errors
  fi
fi

# --- 3. installed on this machine, then removed and purged --------------------
if [ -n "$DEB" ] && [ "$(id -u)" -eq 0 ] && ! dpkg -s opos >/dev/null 2>&1 &&
   { [ "${CI:-}" = true ] || [ ! -e /var/lib/opos ]; }; then
  unset OPOS_REGISTRY OPOS_PORT_DIR
  STORE=/var/lib/opos/registry.db
  check "package installs" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$DEB"
  installed() {
    getent group opos >/dev/null &&
      [ "$(stat -c '%a %U %G' /run/lock/opos)" = "2770 root opos" ] &&
      [ "$(stat -c '%a %U %G' /var/lib/opos)" = "755 root root" ] &&
      [ "$(stat -c '%a %U' "$STORE")" = "644 root" ] &&
      [ "$(opos reg export HKCR | grep -cF '/usr/lib/opos/lib')" -eq 6 ] &&
      [ -f /usr/lib/udev/rules.d/60-opos.rules ] && [ -f /usr/lib/tmpfiles.d/opos.conf ] &&
      # Applications read the store without writing it.
      setpriv --reuid=65534 --regid=65534 --clear-groups opos reg export HKCR >/dev/null &&
      ! setpriv --reuid=65534 --regid=65534 --clear-groups opos reg set 'HKLM\SOFTWARE\x' a --sz b 2>/dev/null &&
      devsetup models | grep -q QMT500
  }
  check "installed: group, lock folder, store modes, registration, rules" installed
  removed() {
    # The staged opos reads the store once the package's own is gone.
    dpkg -r opos >/dev/null && [ -e "$STORE" ] && [ ! -e /usr/bin/opos ] &&
      [ "$("$BIN/opos" --registry "$STORE" reg export HKCR | grep -cF '/usr/lib/opos/lib')" -eq 0 ] &&
      [ ! -e /usr/lib/udev/rules.d/60-opos.rules ]
  }
  check "removed: libraries unregistered, store kept" removed
  purged() {
    dpkg --purge opos >/dev/null && [ ! -e /var/lib/opos ] && [ ! -e /run/lock/opos ]
  }
  check "purged: store and lock folder gone" purged
else
  echo "skip package install: needs root, no opos package and no /var/lib/opos of its own (or CI=true)"
fi

echo "install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
