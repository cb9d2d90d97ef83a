#!/usr/bin/env python3
"""Per-call cost of the opos package against the C interface it wraps, on an
open printer: the same calls through ctypes directly (the C API as Python
reaches it) and through the package. Run by hand:

  OPOS_CONTROL_LIBRARY=build/control/libopos-control.so PYTHONPATH=python \\
    bash tests/c_api/with_vprinter.sh build /usr/bin/python3 bench/python_binding.py \\
    build/bench/bench_c_api_calls

The optional argument, bench_c_api_calls, first measures the same calls from C.
"""
import subprocess
import sys
import timeit

import opos

N = 200_000


def per_call(stmt) -> float:
    return min(timeit.repeat(stmt, number=N, repeat=5)) / N * 1e9


if len(sys.argv) > 1:
    subprocess.run([sys.argv[1], "FrontPrinter"], check=True)

with opos.POSPrinter("FrontPrinter") as printer:
    printer.claim(1000)
    printer.device_enabled = True
    lib, h = printer._lib, printer._ptr
    text = b"Total 12.50"
    rows = [
        ("ResultCode", lambda: lib.opos_get_property_number(h, 6), lambda: printer.result_code),
        ("ValidateData", lambda: lib.opos_printer_validate_data(h, 2, text),
         lambda: printer.validate_data(2, text)),
    ]
    for name, raw, bound in rows:
        c, b = per_call(raw), per_call(bound)
        print(f"{name:14s} C API via ctypes {c:7.0f} ns   opos package {b:7.0f} ns   overhead {b - c:5.0f} ns")
