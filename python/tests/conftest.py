"""Fixtures for the tests against the virtual printer that
tests/c_api/with_vprinter.sh starts (FrontPrinter, FrontDrawer)."""
import os
import time

import pytest

import opos


def pump_until(device: opos.Device, predicate, timeout: float = 5.0) -> bool:
    """Delivers events until predicate() holds or the time is up."""
    end = time.monotonic() + timeout
    while not predicate() and time.monotonic() < end:
        device.pump_events(50)
    return predicate()


class VirtualPrinter:
    def __init__(self):
        self.capture_path = os.environ["OPOS_TEST_CAPTURE"]
        self.control_path = os.environ["OPOS_TEST_CONTROL"]

    def capture(self) -> bytes:
        with open(self.capture_path, "rb") as f:
            return f.read()

    def control(self, command: str) -> None:
        with open(self.control_path, "w") as f:
            f.write(command + "\n")


@pytest.fixture
def vprinter():
    if "OPOS_TEST_CAPTURE" not in os.environ:
        pytest.skip("run through tests/c_api/with_vprinter.sh")
    return VirtualPrinter()


@pytest.fixture
def printer(vprinter):
    p = opos.POSPrinter()
    events = []
    p.on_status_update = lambda data: events.append(("status", data))
    p.on_output_complete = lambda oid: events.append(("complete", oid))
    p.events = events
    p.open("FrontPrinter")
    p.claim(1000)
    p.device_enabled = True
    yield p
    p.free()
