#!/usr/bin/env python3
"""Prints a receipt and opens the cash drawer, showing every event.

Against the virtual printer (from the repository root, after a build):

  OPOS_CONTROL_LIBRARY=build/control/libopos-control.so PYTHONPATH=python \\
    bash tests/c_api/with_vprinter.sh build /usr/bin/python3 python/examples/receipt.py
"""
import sys

import opos
from opos import PTR_S_RECEIPT

printer_name = sys.argv[1] if len(sys.argv) > 1 else "FrontPrinter"
drawer_name = sys.argv[2] if len(sys.argv) > 2 else "FrontDrawer"

with opos.POSPrinter() as printer:
    printer.on_status_update = lambda data: print("printer status", data)
    printer.on_output_complete = lambda oid: print("printed job", oid)
    printer.on_error = lambda rc, rce, locus, proposed: print("printer error", rc, rce) or opos.OPOS_ER_CLEAR
    printer.open(printer_name)
    printer.claim(1000)
    printer.device_enabled = True
    printer.character_set = 858  # Western European with the euro sign
    printer.async_mode = True
    printer.print_normal(PTR_S_RECEIPT, "\x1b|cA\x1b|bC\x1b|2CCAFÉ ØRSTED\x1b|N\n\n")
    printer.print_normal(PTR_S_RECEIPT, "Café crème                 2,40 €\n")
    printer.print_normal(PTR_S_RECEIPT, "Grüße aus der Küche        1,90 €\n")
    printer.print_normal(PTR_S_RECEIPT, "\x1b|bCTOTAL                      4,30 €\x1b|N\n\n")
    printer.print_bar_code(PTR_S_RECEIPT, "4006381333931", opos.PTR_BCS_JAN13, 80, 300)
    printer.cut_paper(100)
    last = printer.output_id
    done = []
    printer.on_output_complete = lambda oid: (print("printed job", oid), done.append(oid))
    while last not in done:
        printer.pump_events(100)
    print("receipt printed")

with opos.CashDrawer(drawer_name) as drawer:
    drawer.on_status_update = lambda data: print("drawer", "open" if data == opos.CASH_SUE_DRAWEROPEN else "closed")
    drawer.claim(1000)
    drawer.device_enabled = True
    drawer.open_drawer()
    drawer.wait_for_drawer_close(5000)
    drawer.pump_events(300)
