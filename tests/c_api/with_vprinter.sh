#!/usr/bin/env bash
# Runs a command against a virtual printer: a fresh registry with the serial
# library registered, a printer "FrontPrinter" and a drawer "FrontDrawer" on
# the virtual printer's COM1 (the drawer closes 1 s after it opens).
# The command finds the files in OPOS_TEST_CAPTURE (every byte the printer
# received) and OPOS_TEST_CONTROL (the printer's control FIFO: "cover open").
# Usage: with_vprinter.sh BUILD_DIR COMMAND [ARGS...]
set -euo pipefail
BUILD=$1; shift
WORK=$(mktemp -d /tmp/opos-capi-XXXXXX)
export OPOS_REGISTRY=$WORK/registry.db OPOS_PORT_DIR=$WORK/ports
export OPOS_TEST_CAPTURE=$WORK/capture.bin OPOS_TEST_CONTROL=$WORK/control
mkdir -p "$OPOS_PORT_DIR"
mkfifo "$WORK/vprinter.out"
"$BUILD/tools/vprinter/vprinter" --link "$OPOS_PORT_DIR/com1" --capture "$OPOS_TEST_CAPTURE" \
  --control "$OPOS_TEST_CONTROL" --drawer-auto-close 1000 >"$WORK/vprinter.out" &
VPID=$!
trap 'kill $VPID 2>/dev/null || true; wait $VPID 2>/dev/null || true; rm -rf "$WORK"' EXIT
read -r _ _ <"$WORK/vprinter.out"
"$BUILD/tools/opos/opos" regsvr "$BUILD/service/libserialso.so" >/dev/null
PRINTER=$("$BUILD/setup/devsetup" add QMT500S)
DRAWER=$("$BUILD/setup/devsetup" add StandardCashS)
"$BUILD/setup/devsetup" ldn add POSPrinter "$PRINTER" FrontPrinter >/dev/null
"$BUILD/setup/devsetup" ldn add CashDrawer "$DRAWER" FrontDrawer >/dev/null
"$@"
