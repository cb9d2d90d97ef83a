#!/usr/bin/env bash
# The Windows leg: the Service Object DLLs, opos.exe and devsetup.exe cross-built
# with MinGW-w64, registered with regsvr32 in a throwaway Wine prefix, and the
# same `opos run` scripts run through COM1 (the virtual printer's pseudo-terminal)
# on Linux and under Wine. The printer's bytes and the JSON lines must be equal,
# apart from what timing decides: carriage returns, repeats of one JSON line in
# a row (how often a retried Error comes) and repeats of the status request
# GS a in a row (how often it is asked again while the cover is open).
# Prints "windows: N passed, M failed".
#
# BUILD (default build) is the Linux build to compare with; WIN_BUILD (default
# build-win) the cross build. When the toolchain or Wine cannot be installed the
# leg says so and exits 0.
set -uo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=${BUILD:-build}
WIN_BUILD=${WIN_BUILD:-build-win}

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  if ! { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"; } >/dev/null 2>&1; then
    echo "windows: skipped (cannot install ${need[*]})"
    exit 0
  fi
fi
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# --- builds: only what the leg runs
[ -f "$BUILD/build.ninja" ] || cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target serialso opos devsetup vprinter >/dev/null || { echo "windows: Linux build failed"; exit 1; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$WIN_BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE=-O1 -DCMAKE_C_FLAGS_RELEASE=-O1 "${launcher[@]}" >/dev/null ||
  { echo "windows: cross configure failed"; exit 1; }
cmake --build "$WIN_BUILD" -j2 --target serialso parallelso usbso opos devsetup >"$WIN_BUILD/leg-build.log" 2>&1 ||
  { tail -30 "$WIN_BUILD/leg-build.log"; echo "windows: cross build failed"; exit 1; }
BIN=$SRC/$WIN_BUILD/bin
# The MinGW runtime beside the programs, where Windows looks first.
for dll in /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libstdc++-6.dll /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libgcc_s_seh-1.dll \
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll; do cp -u "$dll" "$BIN/"; done
cp -u models/*.inf "$BIN/"

WORK=$(mktemp -d /tmp/opos-windows-XXXXXX)
export WINEPREFIX=$WORK/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
VPID=""
cleanup() {
  [ -n "$VPID" ] && kill "$VPID" 2>/dev/null
  "$WINESERVER" -k >/dev/null 2>&1
  [ "${KEEP_WORK:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }
wine_run() { (cd "$BIN" && timeout 180 "$WINE" "$@"); }

# Wine's COM1 is the stable link the virtual printer makes to its pseudo-terminal.
mkdir -p "$WORK/port"
timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
wine_run reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$WORK/port/com1" /f >/dev/null 2>&1
"$WINESERVER" -k >/dev/null 2>&1  # the ports are read when Wine starts

# --- registration
for lib in serialso parallelso usbso; do
  if wine_run regsvr32 /s "$lib.dll"; then pass "regsvr32 $lib.dll"; else fail "regsvr32 $lib.dll"; fi
done
for p in RecPrinter.SO CashDrawer.SO RecPrinter.SOP CashDrawer.SOP RecPrinter.SOU CashDrawer.SOU; do
  out=$(wine_run opos.exe reg list "HKCR\\KELVORA.$p" 2>&1 | tr -d '\r')
  if [ "$out" = CLSID ]; then pass "ProgID KELVORA.$p"; else fail "ProgID KELVORA.$p" "$out"; fi
done

# The COM face: factory, DllCanUnloadNow, CoCreateInstance, IDispatch lookup.
if x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -o "$WORK/com_check.exe" tests/windows/com_check.cpp \
  -lole32 -loleaut32 -luuid >"$WORK/com_check.build" 2>&1; then
  for lib in serialso:KELVORA.RecPrinter.SO serialso:KELVORA.CashDrawer.SO usbso:KELVORA.RecPrinter.SOU; do
    if wine_run "$WORK/com_check.exe" "${lib%%:*}.dll" "${lib#*:}" >"$WORK/com_check.out" 2>&1; then
      pass "COM ${lib#*:} ($(grep -c '^ok' "$WORK/com_check.out") checks)"
    else
      fail "COM ${lib#*:}" "$(grep FAIL "$WORK/com_check.out" | tr -d '\r' | paste -sd';')"
    fi
  done
else
  fail "com_check.exe does not build" "$(head -5 "$WORK/com_check.build")"
fi

# --- the same devices on both sides, added from the model files as the setup tool does
export OPOS_REGISTRY=$WORK/registry.db OPOS_PORT_DIR=$WORK/port OPOS_TONE_LOG=$WORK/tones.log
"$BUILD/tools/opos/opos" regsvr "$BUILD/service/libserialso.so" >/dev/null
add_devices() {  # $1: how to run devsetup
  local p d
  p=$($1 add QMT500S | tr -d '\r') && d=$($1 add StandardCashS | tr -d '\r') &&
    $1 ldn add POSPrinter "$p" FrontPrinter >/dev/null && $1 ldn add CashDrawer "$d" FrontDrawer >/dev/null
}
add_devices "$BUILD/setup/devsetup" || fail "devsetup add (Linux)"
if add_devices "wine_run devsetup.exe"; then pass "devsetup.exe add/ldn over the registry"; else fail "devsetup.exe add/ldn"; fi

# A 1-bit 64x24 bitmap, the same file for both.
python3 - "$WORK/logo.bmp" <<'PY'
import struct, sys
w, h = 64, 24
row = (w + 31) // 32 * 4
pixels = b"".join(bytes((0xF0 if (y // 4 + x) % 2 else 0x0F) for x in range(row)) for y in range(h))
head = struct.pack("<2sIHHI", b"BM", 62 + len(pixels), 0, 0, 62)
info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(pixels), 2835, 2835, 2, 0)
open(sys.argv[1], "wb").write(head + info + b"\xff\xff\xff\x00\x00\x00\x00\x00" + pixels)
PY

# Runs script $2 of class $3 and device $4 on side $1 (linux|windows) into $WORK/$5.
run_side() {
  local side=$1 script=$2 class=$3 device=$4 out=$WORK/$5
  mkdir -p "$out"
  rm -f "$WORK/control"
  "$BUILD/tools/vprinter/vprinter" --link "$WORK/port/com1" --capture "$out/capture.bin" --control "$WORK/control" \
    --drawer-auto-close 1500 >"$out/vprinter.out" &
  VPID=$!
  for _ in $(seq 100); do grep -q ready "$out/vprinter.out" 2>/dev/null && break; sleep 0.1; done
  local closer=""
  if [ -n "${COVER_OPEN:-}" ]; then
    echo "cover open" >"$WORK/control"
    # Closed a second after the first Error, which the script answers with retry.
    (for _ in $(seq 300); do grep -q '"event":"Error"' "$out/out.json" 2>/dev/null && break; sleep 0.1; done
     sleep 1; echo "cover close" >"$WORK/control") &
    closer=$!
  fi
  cp "$SRC/tests/windows/$script" "$WORK/script.txt"
  if [ "$side" = linux ]; then
    (cd "$WORK" && timeout 180 "$SRC/$BUILD/tools/opos/opos" run --class "$class" --device "$device" script.txt) \
      >"$out/out.json" 2>"$out/err.txt"
  else
    (cd "$WORK" && timeout 180 "$WINE" "$BIN/opos.exe" run --class "$class" --device "$device" script.txt) \
      >"$out/out.json" 2>"$out/err.txt"
  fi
  [ -n "$closer" ] && wait "$closer"
  kill "$VPID" 2>/dev/null
  wait "$VPID" 2>/dev/null
  VPID=""
  tr -d '\r' <"$out/out.json" | uniq >"$out/events.json"
  python3 -c 'import re, sys; d = open(sys.argv[1], "rb").read(); r = re.sub(b"(\x1da\xff)+", b"\x1da\xff", d); open(sys.argv[2], "wb").write(r)' \
    "$out/capture.bin" "$out/printed.bin" || rm -f "$out/printed.bin"
}

compare() {  # name script class device
  local name=$1
  run_side linux "$2" "$3" "$4" "$name-linux"
  run_side windows "$2" "$3" "$4" "$name-windows"
  local l=$WORK/$name-linux w=$WORK/$name-windows
  if [ ! -s "$l/printed.bin" ] || [ ! -s "$w/printed.bin" ]; then
    fail "$name" "nothing printed ($(stat -c %s "$l/capture.bin" "$w/capture.bin" 2>/dev/null | paste -sd/) bytes captured)"
  elif ! cmp -s "$l/printed.bin" "$w/printed.bin"; then
    fail "$name" "printer bytes differ ($(stat -c %s "$l/printed.bin") on Linux, $(stat -c %s "$w/printed.bin") under Wine)"
  elif ! diff -u "$l/events.json" "$w/events.json" >"$WORK/$name.diff"; then
    fail "$name" "JSON lines differ"
    head -20 "$WORK/$name.diff"
  else
    pass "$name ($(stat -c %s "$l/printed.bin") bytes, $(wc -l <"$l/events.json") JSON lines)"
  fi
}

compare receipt receipt.script POSPrinter FrontPrinter
compare barcode barcode.script POSPrinter FrontPrinter
compare bitmap bitmap.script POSPrinter FrontPrinter
COVER_OPEN=1 compare async async.script POSPrinter FrontPrinter
compare drawer drawer.script CashDrawer FrontDrawer
compare shared_port shared_port.script POSPrinter FrontPrinter

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
