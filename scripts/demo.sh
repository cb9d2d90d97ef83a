#!/usr/bin/env bash
# The demo: a fresh temporary registry, a virtual printer on a pseudo-terminal,
# a printer and a cash drawer added from the model files as the setup tool
# does, a receipt printed through the Control Object, the drawer opened and
# closed, every event shown, the bytes the printer received and its receipt image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target serialso opos devsetup vprinter

WORK=$(mktemp -d /tmp/opos-demo-XXXXXX)
export OPOS_REGISTRY=$WORK/registry.db
export OPOS_PORT_DIR=$WORK/ports
mkdir -p "$OPOS_PORT_DIR" "$WORK/receipts"
OPOS=$BUILD/tools/opos/opos
DEVSETUP=$BUILD/setup/devsetup

# The virtual printer answers on COM1 of the port folder.
render=()
if "$BUILD/tools/vprinter/vprinter" --help 2>&1 | grep -q -- --render; then render=(--render "$WORK/receipts"); fi
mkfifo "$WORK/vprinter.out"
"$BUILD/tools/vprinter/vprinter" --link "$OPOS_PORT_DIR/com1" --capture "$WORK/capture.bin" \
  --control "$WORK/control" --drawer-auto-close 1500 "${render[@]}" >"$WORK/vprinter.out" &
VPID=$!
trap 'kill $VPID 2>/dev/null || true; wait $VPID 2>/dev/null || true' EXIT
read -r ready slave <"$WORK/vprinter.out"
echo "virtual printer $ready on $slave, linked as COM1"

echo "--- register the serial Service Object library and add the devices"
"$OPOS" regsvr "$BUILD/service/libserialso.so"
PRINTER=$("$DEVSETUP" add QMT500S)
DRAWER=$("$DEVSETUP" add StandardCashS)
"$DEVSETUP" ldn add POSPrinter "$PRINTER" FrontPrinter
"$DEVSETUP" ldn add CashDrawer "$DRAWER" FrontDrawer
"$DEVSETUP" list

echo "--- print a receipt and open the drawer (one JSON line per call and event)"
"$OPOS" run --class POSPrinter --device FrontPrinter <<'SCRIPT'
ClaimDevice 1000
SetPropertyNumber 13 1
SetPropertyNumber 3 1
Pump 1000
SetLogo 1 "\x1b|cA\x1b|rvC  * * *  fresh every morning  * * *  \x1b|N\n"
PrintNormal 2 "\x1b|tL"
PrintNormal 2 "\x1b|cA\x1b|bC\x1b|2CKELVORA MARKET\x1b|1C\n"
PrintNormal 2 "\x1b|cA12 Harbour Street\n\n"
PrintNormal 2 "Coffee                          2.40\nCroissant                       1.90\n\x1b|uCWater                           1.20\x1b|N\n"
PrintNormal 2 "\x1b|bCTOTAL                           5.50\x1b|N\n\n"
PrintBarCode 2 "4006381333931" 104 80 2 -2 -13
PrintNormal 2 "\x1b|cAThank you!\n"
CutPaper 100
Open CashDrawer FrontDrawer
ClaimDevice 1000
SetPropertyNumber 3 1
Pump 1000
OpenDrawer
# The virtual printer's drawer closes by itself after 1.5 s.
WaitForDrawerClose 3000 1000 200 300
Pump 500
SCRIPT

echo "--- bytes the printer received ($(stat -c %s "$WORK/capture.bin") bytes)"
od -A d -t x1 "$WORK/capture.bin" | head -20
ls "$WORK/receipts"/*.png 2>/dev/null | sed 's/^/receipt image: /' || true
echo "demo files are in $WORK"
