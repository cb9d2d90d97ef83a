// The serial port against the virtual printer: claim-time report, reports
// reaching both services, the drawer pulse and the process-ID exchange.
#include <gtest/gtest.h>

#include "tests/transport/pty_peer.h"
#include "tools/vprinter/virtual_printer.h"
#include "transport/serial/serial_port.h"

namespace opos {
namespace {

DeviceConfig Config(const std::string& port, const std::string& deviceName) {
  DeviceConfig c;
  c.Port = port;
  c.Baudrate = 6;
  c.Parity = 0;
  c.Stop = 1;
  c.DeviceName = deviceName;
  return c;
}

TEST(SerialWithVirtualPrinter, PrinterAndDrawerFollowThePrinterState) {
  vprinter::VirtualPrinter vp;
  std::string error;
  ASSERT_TRUE(vp.Start(&error)) << error;
  vp.SetCoverOpen(true);

  test::FakePrinter printer;
  test::FakeDrawer drawer;
  CSerialPort p, d;
  p.SetName("KLP-80");
  p.SetOwner(&printer, nullptr);
  d.SetName("StandardCashDrawer");
  d.SetOwner(nullptr, &drawer);
  ASSERT_EQ(p.Open(Config(vp.SlavePath(), "KLP-80")), 1);
  ASSERT_EQ(p.StartMonitor(1000), 0);
  EXPECT_EQ(p.CheckReady(), 201);  // claimed with the cover open
  ASSERT_EQ(d.Open(Config(vp.SlavePath(), "StandardCashDrawer")), 1);
  ASSERT_EQ(d.StartMonitor(1000), 0);
  p.bFastPoll.store(1);
  d.bFastPoll.store(1);

  vp.SetCoverOpen(false);
  ASSERT_TRUE(test::WaitUntil([&] { return p.coverOpen.load() == 0 && d.coverOpen.load() == 0; }));
  EXPECT_EQ(p.CheckReady(), 0);
  vp.SetPaperEnd(true);
  ASSERT_TRUE(test::WaitUntil([&] { return p.paperEnd.load() == 1; }));
  EXPECT_EQ(p.CheckReady(), 203);
  vp.SetPaperEnd(false);
  ASSERT_TRUE(test::WaitUntil([&] { return p.statusError.load() == 0; }));

  // The drawer's pulse goes through the shared device; the printer reports
  // the opened drawer, and both port objects see pin 3 move.
  const bool lowBefore = !vp.Status().pin3High;
  EXPECT_EQ(p.drawerSensorLow.load(), lowBefore ? 1 : 0);
  const uint8_t pulse[] = {0x1B, 0x70, 0x30, 0x64, 0xC8};
  ASSERT_EQ(d.Write(pulse, sizeof pulse), 1);
  ASSERT_TRUE(vp.WaitUntil([](const vprinter::PrinterModel& m) { return m.Status().drawerKicks == 1; },
                           std::chrono::milliseconds(5000)));
  ASSERT_TRUE(test::WaitUntil([&] {
    const int32_t low = vp.Status().pin3High ? 0 : 1;
    return low != (lowBefore ? 1 : 0) && p.drawerSensorLow.load() == low && d.drawerSensorLow.load() == low;
  }));

  // The process-ID request of a job's end, and its answer.
  const uint8_t request[] = {0x1D, 0x28, 0x48, 0x06, 0x00, 0x30, 0x30, 0x46, 0x46, 0x46, 0x46};
  ASSERT_EQ(p.Write(request, sizeof request), 1);
  ASSERT_TRUE(printer.processIdSeen.Wait(5000));
  EXPECT_EQ(p.paperEnd.load(), 0);
  EXPECT_EQ(p.CheckReady(), 0);

  p.Close();
  d.Close();
  vp.Stop();
}

}  // namespace
}  // namespace opos
