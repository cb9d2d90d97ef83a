"""Loads libopos-control and declares the C interface (opos/opos_c.h)."""
from __future__ import annotations

import ctypes
import os
from typing import Optional

_LIBRARY_NAMES = ("libopos-control.so.1", "libopos-control.so")


class Event(ctypes.Structure):
    """struct opos_event of opos_c.h."""

    _fields_ = [
        ("size", ctypes.c_size_t),
        ("type", ctypes.c_int32),
        ("data", ctypes.c_int32),
        ("result_code", ctypes.c_int32),
        ("result_code_extended", ctypes.c_int32),
        ("error_locus", ctypes.c_int32),
        ("error_response", ctypes.c_int32),
        ("event_number", ctypes.c_int32),
        ("text", ctypes.c_char_p),
    ]


EVENT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(Event), ctypes.c_void_p)

_I32 = ctypes.c_int32
_DEV = ctypes.c_void_p
_STR = ctypes.c_char_p

# name: (result type, argument types)
_SIGNATURES = {
    "opos_printer_new": (_DEV, []),
    "opos_cash_drawer_new": (_DEV, []),
    "opos_device_free": (None, [_DEV]),
    "opos_device_class": (_I32, [_DEV]),
    "opos_set_event_callback": (None, [_DEV, EVENT_FN, ctypes.c_void_p]),
    "opos_event_set_text": (None, [ctypes.POINTER(Event), _STR]),
    "opos_event_fd": (ctypes.c_int, [_DEV]),
    "opos_dispatch_events": (ctypes.c_size_t, [_DEV]),
    "opos_pump_events": (None, [_DEV, ctypes.c_int]),
    "opos_open": (_I32, [_DEV, _STR]),
    "opos_close": (_I32, [_DEV]),
    "opos_last_error_text": (_STR, [_DEV]),
    "opos_string_free": (None, [ctypes.c_void_p]),
    "opos_claim_device": (_I32, [_DEV, _I32]),
    "opos_release_device": (_I32, [_DEV]),
    "opos_check_health": (_I32, [_DEV, _I32]),
    "opos_direct_io": (_I32, [_DEV, _I32, ctypes.POINTER(_I32), _STR, ctypes.POINTER(ctypes.c_void_p)]),
    "opos_get_property_number": (_I32, [_DEV, _I32]),
    "opos_set_property_number": (None, [_DEV, _I32, _I32]),
    "opos_get_property_string": (ctypes.c_void_p, [_DEV, _I32]),
    "opos_set_property_string": (None, [_DEV, _I32, _STR]),
    "opos_result_code": (_I32, [_DEV]),
    "opos_result_code_extended": (_I32, [_DEV]),
    "opos_printer_clear_output": (_I32, [_DEV]),
    "opos_printer_begin_insertion": (_I32, [_DEV, _I32]),
    "opos_printer_begin_removal": (_I32, [_DEV, _I32]),
    "opos_printer_end_insertion": (_I32, [_DEV]),
    "opos_printer_end_removal": (_I32, [_DEV]),
    "opos_printer_cut_paper": (_I32, [_DEV, _I32]),
    "opos_printer_print_bar_code": (_I32, [_DEV, _I32, _STR, _I32, _I32, _I32, _I32, _I32]),
    "opos_printer_print_bitmap": (_I32, [_DEV, _I32, _STR, _I32, _I32]),
    "opos_printer_print_immediate": (_I32, [_DEV, _I32, _STR]),
    "opos_printer_print_normal_n": (_I32, [_DEV, _I32, _STR, ctypes.c_size_t]),
    "opos_printer_print_two_normal": (_I32, [_DEV, _I32, _STR, _STR]),
    "opos_printer_rotate_print": (_I32, [_DEV, _I32, _I32]),
    "opos_printer_set_bitmap": (_I32, [_DEV, _I32, _I32, _STR, _I32, _I32]),
    "opos_printer_set_logo": (_I32, [_DEV, _I32, _STR]),
    "opos_printer_transaction_print": (_I32, [_DEV, _I32, _I32]),
    "opos_printer_validate_data": (_I32, [_DEV, _I32, _STR]),
    "opos_drawer_open_drawer": (_I32, [_DEV]),
    "opos_drawer_wait_for_drawer_close": (_I32, [_DEV, _I32, _I32, _I32, _I32]),
}

_lib: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded library: $OPOS_CONTROL_LIBRARY (a path), else the installed
    libopos-control by its shared-object name."""
    global _lib
    if _lib is not None:
        return _lib
    explicit = os.environ.get("OPOS_CONTROL_LIBRARY")
    names = (explicit,) if explicit else _LIBRARY_NAMES
    errors = []
    for name in names:
        try:
            lib = ctypes.CDLL(name)
            break
        except OSError as e:
            errors.append(str(e))
    else:
        raise OSError("libopos-control not found (set OPOS_CONTROL_LIBRARY): " + "; ".join(errors))
    for fn, (restype, argtypes) in _SIGNATURES.items():
        f = getattr(lib, fn)
        f.restype = restype
        f.argtypes = argtypes
    _lib = lib
    return lib


def take_string(pointer: Optional[int]) -> str:
    """Copies a string the library allocated and frees it. Bytes that are not
    UTF-8 are kept as surrogate escapes."""
    if not pointer:
        return ""
    try:
        return ctypes.string_at(pointer).decode("utf-8", "surrogateescape")
    finally:
        library().opos_string_free(pointer)


def to_bytes(text: "str | bytes") -> bytes:
    """Text as UTF-8 (the printer converts it to its code page); bytes as they are."""
    if isinstance(text, bytes):
        return text
    return text.encode("utf-8", "surrogateescape")
