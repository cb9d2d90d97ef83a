"""OPOS POS printers and cash drawers from Python.

A thin layer over libopos-control's C interface (opos/opos_c.h)::

    from opos import POSPrinter, PTR_S_RECEIPT

    with POSPrinter("ReceiptPrinter") as printer:
        printer.claim(1000)
        printer.device_enabled = True
        printer.print_normal(PTR_S_RECEIPT, "Café crème  2,40 €\\n")

Methods raise :class:`OposError` (with ``result_code`` and
``result_code_extended``) when the call fails; construct a device with
``raise_errors=False`` to get the OPOS result codes back instead. Text is
passed as UTF-8 and printed in the printer's code page (``character_set``);
``bytes`` pass unchanged.

Events arrive as callbacks on the thread that opened the device, whenever it
pumps: inside calls that wait, in :meth:`Device.pump_events` /
:meth:`Device.dispatch_events`, or from an asyncio loop through
:meth:`Device.attach` (which watches the event descriptor).
"""
from __future__ import annotations

import asyncio
import ctypes
import traceback
from typing import Callable, Optional, Union

from . import _lib
from ._lib import library, take_string, to_bytes

__all__ = [
    "OposError", "Device", "POSPrinter", "CashDrawer",
    "OPOS_SUCCESS", "OPOS_E_CLOSED", "OPOS_E_CLAIMED", "OPOS_E_NOTCLAIMED", "OPOS_E_NOSERVICE",
    "OPOS_E_DISABLED", "OPOS_E_ILLEGAL", "OPOS_E_FAILURE", "OPOS_E_TIMEOUT", "OPOS_E_EXTENDED",
    "OPOS_ER_RETRY", "OPOS_ER_CLEAR", "PTR_S_RECEIPT", "PTR_SUE_COVER_OPEN", "PTR_SUE_COVER_OK",
    "CASH_SUE_DRAWERCLOSED", "CASH_SUE_DRAWEROPEN",
]

OPOS_SUCCESS = 0
OPOS_E_CLOSED = 101
OPOS_E_CLAIMED = 102
OPOS_E_NOTCLAIMED = 103
OPOS_E_NOSERVICE = 104
OPOS_E_DISABLED = 105
OPOS_E_ILLEGAL = 106
OPOS_E_FAILURE = 111
OPOS_E_TIMEOUT = 112
OPOS_E_EXTENDED = 114
OPOS_ER_RETRY = 11
OPOS_ER_CLEAR = 12
OPOS_EPTR_COVER_OPEN = 201
OPOS_EPTR_REC_EMPTY = 203
PTR_S_RECEIPT = 2
PTR_SUE_COVER_OPEN = 11
PTR_SUE_COVER_OK = 12
PTR_BCS_JAN13 = 104
PTR_BCS_CODE128 = 110
PTR_BC_CENTER = -2
PTR_BC_TEXT_BELOW = -13
CASH_SUE_DRAWERCLOSED = 0
CASH_SUE_DRAWEROPEN = 1

_EV_STATUS_UPDATE, _EV_ERROR, _EV_OUTPUT_COMPLETE, _EV_DIRECT_IO = 1, 2, 3, 4

Text = Union[str, bytes]
StatusUpdateHandler = Callable[[int], None]
# (ResultCode, ResultCodeExtended, ErrorLocus, proposed response) -> response or None
ErrorHandler = Callable[[int, int, int, int], Optional[int]]
OutputCompleteHandler = Callable[[int], None]
# (EventNumber, Data, String) -> None, or (Data, String) to answer
DirectIOHandler = Callable[[int, int, str], Optional["tuple[int, str]"]]


class OposError(Exception):
    """A failed OPOS call: ``result_code`` and ``result_code_extended``."""

    def __init__(self, call: str, result_code: int, result_code_extended: int = 0, detail: str = ""):
        self.call = call
        self.result_code = result_code
        self.result_code_extended = result_code_extended
        message = f"{call}: ResultCode {result_code}, ResultCodeExtended {result_code_extended}"
        super().__init__(message + (f" ({detail})" if detail else ""))


def _number_property(index: int, doc: str, writable: bool = False, as_bool: bool = False) -> property:
    def get(self: "Device"):
        value = self._lib.opos_get_property_number(self._handle(), index)
        return bool(value) if as_bool else value

    def put(self: "Device", value) -> None:
        self._lib.opos_set_property_number(self._handle(), index, int(value))
        self._check(f"set property {index}", self._lib.opos_result_code(self._handle()))

    return property(get, put if writable else None, doc=doc)


def _string_property(index: int, doc: str) -> property:
    def get(self: "Device") -> str:
        return take_string(self._lib.opos_get_property_string(self._handle(), index))

    return property(get, doc=doc)


class Device:
    """Common part of the OPOS Control Objects. Not created directly."""

    _new = ""

    def __init__(self, name: Optional[str] = None, *, raise_errors: bool = True):
        """Creates the Control Object; opens ``name`` (a device key or
        logical device name) when given."""
        self._lib = library()
        self._raise = raise_errors
        self._ptr: Optional[int] = getattr(self._lib, self._new)()
        if not self._ptr:
            raise MemoryError("opos: no handle")
        self.on_status_update: Optional[StatusUpdateHandler] = None
        self.on_error: Optional[ErrorHandler] = None
        self.on_output_complete: Optional[OutputCompleteHandler] = None
        self.on_direct_io: Optional[DirectIOHandler] = None
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        # Kept alive as long as the handle: the library calls it.
        self._callback = _lib.EVENT_FN(self._on_event)
        self._lib.opos_set_event_callback(self._ptr, self._callback, None)
        if name is not None:
            self.open(name)

    # -- plumbing --------------------------------------------------------
    def _handle(self) -> int:
        if not self._ptr:
            raise ValueError("the device has been freed")
        return self._ptr

    def _check(self, call: str, rc: int) -> int:
        if rc != OPOS_SUCCESS and self._raise:
            extended = self._lib.opos_result_code_extended(self._ptr)
            raise OposError(call, rc, extended, self.last_error_text)
        return rc

    def _on_event(self, _device, event_ptr, _user) -> None:
        ev = event_ptr.contents
        try:
            if ev.type == _EV_STATUS_UPDATE and self.on_status_update:
                self.on_status_update(ev.data)
            elif ev.type == _EV_OUTPUT_COMPLETE and self.on_output_complete:
                self.on_output_complete(ev.data)
            elif ev.type == _EV_ERROR and self.on_error:
                answer = self.on_error(ev.result_code, ev.result_code_extended, ev.error_locus,
                                       ev.error_response)
                if answer is not None:
                    ev.error_response = int(answer)
            elif ev.type == _EV_DIRECT_IO and self.on_direct_io:
                text = (ev.text or b"").decode("utf-8", "surrogateescape")
                answer = self.on_direct_io(ev.event_number, ev.data, text)
                if answer is not None:
                    ev.data = int(answer[0])
                    self._lib.opos_event_set_text(event_ptr, to_bytes(answer[1]))
        except Exception:  # an exception must not unwind into the library
            traceback.print_exc()

    # -- lifecycle -------------------------------------------------------
    def open(self, name: str) -> int:
        """Finds the device and opens its Service Object."""
        return self._check(f"Open {name}", self._lib.opos_open(self._handle(), to_bytes(name)))

    def close(self) -> int:
        """Closes the device (the handle stays usable for another open)."""
        self.detach()
        return self._check("Close", self._lib.opos_close(self._handle()))

    def free(self) -> None:
        """Closes the device if open and frees the handle."""
        self.detach()
        if self._ptr:
            self._lib.opos_device_free(self._ptr)
            self._ptr = None

    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        self.free()

    def __del__(self):
        try:
            self.free()
        except Exception:
            pass

    @property
    def last_error_text(self) -> str:
        """Why the last open failed; empty after success."""
        return (self._lib.opos_last_error_text(self._handle()) or b"").decode("utf-8", "replace")

    # -- common methods ----------------------------------------------------
    def claim(self, timeout: int) -> int:
        """ClaimDevice: exclusive access within ``timeout`` ms (-1: forever)."""
        return self._check("ClaimDevice", self._lib.opos_claim_device(self._handle(), timeout))

    def release(self) -> int:
        """ReleaseDevice."""
        return self._check("ReleaseDevice", self._lib.opos_release_device(self._handle()))

    def check_health(self, level: int) -> int:
        """CheckHealth (1 internal, 2 external, 3 interactive)."""
        return self._check("CheckHealth", self._lib.opos_check_health(self._handle(), level))

    def direct_io(self, command: int, data: int = 0, text: Text = b"") -> "tuple[int, int, str]":
        """DirectIO: returns (result code, data, string)."""
        value = ctypes.c_int32(data)
        out = ctypes.c_void_p()
        rc = self._lib.opos_direct_io(self._handle(), command, ctypes.byref(value), to_bytes(text),
                                      ctypes.byref(out))
        result = take_string(out.value)
        self._check("DirectIO", rc)
        return rc, value.value, result

    def get_property_number(self, index: int) -> int:
        return self._lib.opos_get_property_number(self._handle(), index)

    def set_property_number(self, index: int, value: int) -> None:
        self._lib.opos_set_property_number(self._handle(), index, value)

    def get_property_string(self, index: int) -> str:
        return take_string(self._lib.opos_get_property_string(self._handle(), index))

    # -- events ------------------------------------------------------------
    @property
    def event_fd(self) -> int:
        """Readable while events wait for the opening thread (-1 before open)."""
        return self._lib.opos_event_fd(self._handle())

    def dispatch_events(self) -> int:
        """Delivers the events that wait now; returns how many."""
        return self._lib.opos_dispatch_events(self._handle())

    def pump_events(self, ms: int) -> None:
        """Delivers events as they arrive for ``ms`` milliseconds."""
        self._lib.opos_pump_events(self._handle(), ms)

    def attach(self, loop: Optional[asyncio.AbstractEventLoop] = None) -> None:
        """Delivers this device's events from an asyncio loop (running on the
        thread that opened the device) by watching the event descriptor."""
        self.detach()
        self._loop = loop or asyncio.get_running_loop()
        self._loop.add_reader(self.event_fd, self.dispatch_events)

    def detach(self) -> None:
        """Stops the delivery that :meth:`attach` started."""
        if self._loop is not None and self._ptr:
            self._loop.remove_reader(self.event_fd)
        self._loop = None

    # -- common properties -------------------------------------------------
    result_code = _number_property(6, "ResultCode of the last call.")
    result_code_extended = _number_property(7, "ResultCodeExtended of the last call.")
    state = _number_property(9, "State: 1 closed, 2 idle, 3 busy, 4 error.")
    claimed = _number_property(1, "Claimed.", as_bool=True)
    device_enabled = _number_property(3, "DeviceEnabled.", writable=True, as_bool=True)
    freeze_events = _number_property(4, "FreezeEvents.", writable=True, as_bool=True)
    binary_conversion = _number_property(11, "BinaryConversion: 0 none, 1 nibble, 2 decimal.", writable=True)
    power_notify = _number_property(13, "PowerNotify.", writable=True)
    power_state = _number_property(14, "PowerState.")
    service_object_version = _number_property(8, "ServiceObjectVersion.")
    check_health_text = _string_property(1000001, "CheckHealthText.")
    device_description = _string_property(1000002, "DeviceDescription.")
    device_name = _string_property(1000003, "DeviceName.")
    service_object_description = _string_property(1000004, "ServiceObjectDescription.")


class POSPrinter(Device):
    """The OPOS POSPrinter Control Object."""

    _new = "opos_printer_new"

    def print_normal(self, station: int, data: Text) -> int:
        """PrintNormal. ``str`` is printed in the printer's code page."""
        raw = to_bytes(data)
        return self._check("PrintNormal", self._lib.opos_printer_print_normal_n(self._handle(), station, raw, len(raw)))

    def print_immediate(self, station: int, data: Text) -> int:
        """PrintImmediate."""
        return self._check("PrintImmediate",
                           self._lib.opos_printer_print_immediate(self._handle(), station, to_bytes(data)))

    def print_two_normal(self, stations: int, data1: Text, data2: Text) -> int:
        """PrintTwoNormal."""
        return self._check("PrintTwoNormal", self._lib.opos_printer_print_two_normal(
            self._handle(), stations, to_bytes(data1), to_bytes(data2)))

    def print_bar_code(self, station: int, data: Text, symbology: int, height: int, width: int,
                       alignment: int = PTR_BC_CENTER, text_position: int = PTR_BC_TEXT_BELOW) -> int:
        """PrintBarCode; height and width in MapMode units."""
        return self._check("PrintBarCode", self._lib.opos_printer_print_bar_code(
            self._handle(), station, to_bytes(data), symbology, height, width, alignment, text_position))

    def print_bitmap(self, station: int, file_name: str, width: int, alignment: int) -> int:
        """PrintBitmap of a BMP file."""
        return self._check("PrintBitmap", self._lib.opos_printer_print_bitmap(
            self._handle(), station, to_bytes(file_name), width, alignment))

    def set_bitmap(self, number: int, station: int, file_name: str, width: int, alignment: int) -> int:
        """SetBitmap: stores a bitmap for ESC|1B / ESC|2B."""
        return self._check("SetBitmap", self._lib.opos_printer_set_bitmap(
            self._handle(), number, station, to_bytes(file_name), width, alignment))

    def set_logo(self, location: int, data: Text) -> int:
        """SetLogo: 1 top, 2 bottom."""
        return self._check("SetLogo", self._lib.opos_printer_set_logo(self._handle(), location, to_bytes(data)))

    def validate_data(self, station: int, data: Text) -> int:
        """ValidateData."""
        return self._check("ValidateData",
                           self._lib.opos_printer_validate_data(self._handle(), station, to_bytes(data)))

    def cut_paper(self, percentage: int = 100) -> int:
        """CutPaper."""
        return self._check("CutPaper", self._lib.opos_printer_cut_paper(self._handle(), percentage))

    def rotate_print(self, station: int, rotation: int) -> int:
        """RotatePrint."""
        return self._check("RotatePrint", self._lib.opos_printer_rotate_print(self._handle(), station, rotation))

    def transaction_print(self, station: int, control: int) -> int:
        """TransactionPrint: 11 transaction, 12 normal."""
        return self._check("TransactionPrint",
                           self._lib.opos_printer_transaction_print(self._handle(), station, control))

    def clear_output(self) -> int:
        """ClearOutput."""
        return self._check("ClearOutput", self._lib.opos_printer_clear_output(self._handle()))

    def begin_insertion(self, timeout: int) -> int:
        return self._check("BeginInsertion", self._lib.opos_printer_begin_insertion(self._handle(), timeout))

    def end_insertion(self) -> int:
        return self._check("EndInsertion", self._lib.opos_printer_end_insertion(self._handle()))

    def begin_removal(self, timeout: int) -> int:
        return self._check("BeginRemoval", self._lib.opos_printer_begin_removal(self._handle(), timeout))

    def end_removal(self) -> int:
        return self._check("EndRemoval", self._lib.opos_printer_end_removal(self._handle()))

    output_id = _number_property(5, "OutputID of the last asynchronous job.")
    async_mode = _number_property(8001, "AsyncMode.", writable=True, as_bool=True)
    character_set = _number_property(8002, "CharacterSet: the code page text is printed in.", writable=True)
    cover_open = _number_property(8003, "CoverOpen.", as_bool=True)
    error_station = _number_property(8004, "ErrorStation.")
    flag_when_idle = _number_property(8005, "FlagWhenIdle.", writable=True, as_bool=True)
    map_mode = _number_property(8013, "MapMode: 1 dots, 2 twips, 3 English, 4 metric.", writable=True)
    rec_empty = _number_property(8014, "RecEmpty.", as_bool=True)
    rec_line_chars = _number_property(8016, "RecLineChars (42 or 56).", writable=True)
    rec_line_spacing = _number_property(8018, "RecLineSpacing.", writable=True)
    rec_line_width = _number_property(8020, "RecLineWidth.")
    error_level = _number_property(8035, "ErrorLevel.")
    character_set_list = _string_property(1008001, "CharacterSetList.")
    error_string = _string_property(1008005, "ErrorString.")


class CashDrawer(Device):
    """The OPOS CashDrawer Control Object."""

    _new = "opos_cash_drawer_new"

    def open_drawer(self) -> int:
        """OpenDrawer."""
        return self._check("OpenDrawer", self._lib.opos_drawer_open_drawer(self._handle()))

    def wait_for_drawer_close(self, beep_timeout: int, beep_frequency: int = 1000, beep_duration: int = 100,
                              beep_delay: int = 500) -> int:
        """WaitForDrawerClose: waits until the drawer closes, beeping after
        ``beep_timeout`` ms."""
        return self._check("WaitForDrawerClose", self._lib.opos_drawer_wait_for_drawer_close(
            self._handle(), beep_timeout, beep_frequency, beep_duration, beep_delay))

    drawer_opened = _number_property(1001, "DrawerOpened.", as_bool=True)
    cap_status = _number_property(1501, "CapStatus.", as_bool=True)
