"""The opos package against the virtual printer."""
import asyncio

import pytest

import opos
from conftest import pump_until

CAFE = "Café crème  2,40 €\n"


def test_text_prints_in_the_character_set_and_errors_carry_codes(printer, vprinter):
    printer.character_set = 850
    printer.print_normal(opos.PTR_S_RECEIPT, CAFE)
    printer.print_normal(opos.PTR_S_RECEIPT, b"caf\x82 as bytes\n")
    assert pump_until(printer, lambda: b"as bytes" in vprinter.capture())
    data = vprinter.capture()
    assert b"Caf\x82 cr\x8ame  2,40 ?\n" in data  # 850 has no euro sign
    assert b"caf\x82 as bytes" in data
    with pytest.raises(opos.OposError) as err:
        printer.print_normal(3, "slip")  # no slip station
    assert err.value.result_code == opos.OPOS_E_ILLEGAL
    assert printer.result_code == opos.OPOS_E_ILLEGAL


def test_result_codes_instead_of_exceptions(vprinter):
    with opos.POSPrinter(raise_errors=False) as p:
        assert p.print_normal(opos.PTR_S_RECEIPT, "x") == opos.OPOS_E_CLOSED
        assert p.open("NoSuchDevice") == opos.OPOS_E_NOSERVICE
        assert p.last_error_text
        assert p.open("FrontPrinter") == opos.OPOS_SUCCESS
        assert p.print_normal(opos.PTR_S_RECEIPT, "x") == opos.OPOS_E_NOTCLAIMED
    with pytest.raises(opos.OposError) as err:
        opos.POSPrinter("NoSuchDevice")
    assert err.value.result_code == opos.OPOS_E_NOSERVICE


def test_cover_events_and_an_error_answered_with_retry(printer, vprinter):
    errors = []

    def on_error(rc, rce, locus, proposed):
        errors.append((rc, rce))
        vprinter.control("cover close")
        return opos.OPOS_ER_RETRY

    printer.on_error = on_error
    printer.async_mode = True
    vprinter.control("cover open")
    assert pump_until(printer, lambda: ("status", opos.PTR_SUE_COVER_OPEN) in printer.events)
    assert printer.cover_open
    printer.print_normal(opos.PTR_S_RECEIPT, "after the cover\n")
    job = printer.output_id
    assert pump_until(printer, lambda: ("complete", job) in printer.events)
    assert errors and errors[0] == (opos.OPOS_E_EXTENDED, opos.OPOS_EPTR_COVER_OPEN)
    assert pump_until(printer, lambda: ("status", opos.PTR_SUE_COVER_OK) in printer.events)
    assert b"after the cover" in vprinter.capture()


def test_drawer_cycle(vprinter):
    seen = []
    with opos.CashDrawer() as drawer:
        drawer.on_status_update = seen.append
        drawer.open("FrontDrawer")
        drawer.claim(1000)
        drawer.device_enabled = True
        assert pump_until(drawer, lambda: seen == [opos.CASH_SUE_DRAWERCLOSED])
        drawer.open_drawer()
        assert pump_until(drawer, lambda: opos.CASH_SUE_DRAWEROPEN in seen)
        assert drawer.drawer_opened
        drawer.wait_for_drawer_close(5000)
        assert pump_until(drawer, lambda: seen[-1] == opos.CASH_SUE_DRAWERCLOSED)
        assert seen == [0, 1, 0]
        with pytest.raises(AttributeError):
            drawer.print_normal(2, "x")


def test_asyncio_delivers_events_from_the_loop(printer, vprinter):
    async def main():
        loop = asyncio.get_running_loop()
        done = loop.create_future()
        printer.on_output_complete = lambda oid: done.done() or done.set_result(oid)
        printer.attach()
        printer.async_mode = True
        printer.print_normal(opos.PTR_S_RECEIPT, "Привет from asyncio\n")
        job = printer.output_id
        assert await asyncio.wait_for(done, 5) == job
        printer.detach()

    asyncio.run(main())
    assert b"from asyncio" in vprinter.capture()
