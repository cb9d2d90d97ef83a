// The parallel and USB port objects on a pseudo-terminal standing in for
// /dev/lpN and /dev/usb/lpN.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "common/opos.h"
#include "platform/port_names.h"
#include "tests/transport/pty_peer.h"
#include "transport/parallel/parallel_port.h"
#include "transport/usb/usb_port.h"

namespace opos {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::FakeDrawer;
using test::FakePrinter;
using test::PtyPeer;

const Bytes kAsbEnable{0x1D, 0x61, 0xFF};
const Bytes kDleEot{0x10, 0x04, 0x01};

DeviceConfig Config(const std::string& port, const std::string& deviceName) {
  DeviceConfig c;
  c.Port = port;
  c.DeviceName = deviceName;
  return c;
}

// Runs every test for both transports.
class PrinterClassPortTest : public testing::TestWithParam<bool> {
 protected:
  bool Usb() const { return GetParam(); }
  std::unique_ptr<CPortBase> Make() {
    if (Usb()) return std::make_unique<CUsbPort>();
    return std::make_unique<CParallelPort>();
  }
  std::unique_ptr<CPortBase> OpenPrinter() {
    auto port = Make();
    port->SetName("KLP-80");
    port->SetOwner(&printer, nullptr);
    EXPECT_EQ(port->Open(Config(peer.Slave(), "KLP-80")), 1);
    return port;
  }
  std::unique_ptr<CPortBase> OpenDrawer() {
    auto port = Make();
    port->SetName("StandardCashDrawer");
    port->SetOwner(nullptr, &drawer);
    EXPECT_EQ(port->Open(Config(peer.Slave(), "StandardCashDrawer")), 1);
    return port;
  }
  PtyPeer peer;
  FakePrinter printer;
  FakeDrawer drawer;
};

TEST_P(PrinterClassPortTest, WritesAre64ByteChunksWithAPauseAfterEach) {
  auto port = OpenPrinter();
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xFF - i);
  long before = test::WriteCallsOfThisThread();
  const uint32_t start = test::NowMs();
  ASSERT_EQ(port->Write(data.data(), data.size()), 1);
  EXPECT_GE(test::NowMs() - start, 38u);  // 64 bytes, 20 ms, 36 bytes, 20 ms
  EXPECT_EQ(test::WriteCallsOfThisThread() - before, 2);
  EXPECT_EQ(peer.ReadFor(data.size()), data);
}

TEST_P(PrinterClassPortTest, WritePacingSetsChunksAndPause) {
  struct Case {
    int32_t chunk, pauseMs;
    long writes;  // write() calls for 2048 bytes; 0: as few as the device needs
    uint32_t atLeastMs;
  };
  for (const Case& c : {Case{128, 0, 16, 0}, Case{512, 10, 4, 38}, Case{0, 0, 0, 0}}) {
    SCOPED_TRACE(testing::Message() << "WritePacing " << c.chunk << "," << c.pauseMs);
    auto port = Make();
    port->SetName("KLP-80");
    port->SetOwner(&printer, nullptr);
    DeviceConfig config = Config(peer.Slave(), "KLP-80");
    config.WriteChunk = c.chunk;
    config.WritePauseMs = c.pauseMs;
    ASSERT_EQ(port->Open(config), 1);
    Bytes data(2048);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    const long before = test::WriteCallsOfThisThread();
    const uint32_t start = test::NowMs();
    ASSERT_EQ(port->Write(data.data(), data.size()), 1);
    const uint32_t took = test::NowMs() - start;
    const long writes = test::WriteCallsOfThisThread() - before;
    EXPECT_GE(took, c.atLeastMs);
    if (c.writes != 0) {
      EXPECT_EQ(writes, c.writes);
    } else {
      EXPECT_LT(writes, 8);  // the default pacing needs 32 writes and 640 ms
      EXPECT_LT(took, 320u);
    }
    EXPECT_EQ(peer.ReadFor(data.size()), data);
    port->Close();
  }
}

TEST_P(PrinterClassPortTest, ReportIsTakenAsItArrivesNotAtTheNextPass) {
  peer.StartPrinter({0x10, 0x00, 0x00, 0x00});
  auto port = OpenPrinter();
  ASSERT_EQ(port->StartMonitor(3000), 0);
  peer.StopPrinter();
  printer.reportArrived.Reset();
  const uint32_t start = test::NowMs();
  peer.Send({0x34, 0x00, 0x00, 0x00});  // cover open
  ASSERT_TRUE(printer.reportArrived.Wait(3000));
  const uint32_t took = test::NowMs() - start;
  EXPECT_EQ(port->coverOpen.load(), 1);
  EXPECT_EQ(port->CheckReady(), 201);
  // The parallel reader's pass is 500 ms: the report came by poll(), not by a pass.
  if (!Usb()) {
    EXPECT_LT(took, 250u);
  }
}

TEST_P(PrinterClassPortTest, FailedWriteMakesThePrinterForgetItsImage) {
  auto port = OpenPrinter();
  peer.FillUntilFull();  // nobody reads: the first chunk cannot go
  const Bytes data(100, 0x55);
  const uint32_t start = test::NowMs();
  EXPECT_EQ(port->Write(data.data(), data.size()), 0);
  const uint32_t took = test::NowMs() - start;
  EXPECT_GE(took, 480u);  // the chunk's time limit
  EXPECT_LT(took, 1500u);
  EXPECT_TRUE(printer.imagesLost.IsSet());
}

TEST_P(PrinterClassPortTest, PrinterStartMonitorTakesTheFirstReport) {
  peer.StartPrinter({0x10, 0x00, 0x00, 0x00});  // drawer pin 3 low
  auto port = OpenPrinter();
  ASSERT_EQ(port->StartMonitor(3000), 0);
  EXPECT_TRUE(port->StatusReaderRunning());
  EXPECT_EQ(port->monitoring.load(), 1);
  Bytes got = peer.Received();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), kAsbEnable);
  EXPECT_EQ(port->drawerSensorLow.load(), 1);
  EXPECT_EQ(port->CheckReady(), 0);
}

TEST_P(PrinterClassPortTest, DrawerClaimWaitsForANotReadyPrinterAndGivesUp) {
  peer.StartPrinter({0x34, 0x00, 0x00, 0x00});  // cover open
  auto p = OpenPrinter();
  ASSERT_EQ(p->StartMonitor(3000), 0);
  ASSERT_EQ(p->coverOpen.load(), 1);
  auto d = OpenDrawer();
  EXPECT_EQ(d->PortUsers(), 2);
  const int threads = test::ThreadCount();
  const uint32_t start = test::NowMs();
  EXPECT_EQ(d->StartMonitor(300), 201);
  EXPECT_GE(test::NowMs() - start, 295u);
  EXPECT_EQ(d->monitoring.load(), 0);
  EXPECT_EQ(test::ThreadCount(), threads);  // the drawer side starts no reader
  d->Close();
  EXPECT_EQ(p->PortUsers(), 1);
}

TEST_P(PrinterClassPortTest, DrawerClaimGoesThroughOnceThePrinterIsReady) {
  peer.StartPrinter({0x14, 0x00, 0x0C, 0x00});  // paper end
  auto p = OpenPrinter();
  p->bFastPoll.store(1);
  ASSERT_EQ(p->StartMonitor(3000), 0);
  ASSERT_EQ(p->paperEnd.load(), 1);
  auto d = OpenDrawer();
  std::atomic<int32_t> result{-1};
  std::thread claim([&] { result.store(d->StartMonitor(5000)); });
  // Paper loaded: the printer reports it, and answers every later request so.
  peer.SetAsbReply({0x14, 0x00, 0x00, 0x00});
  peer.Send({0x14, 0x00, 0x00, 0x00});
  claim.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(d->monitoring.load(), 1);
  // While the printer's reader runs, the drawer takes the sensor from its
  // reports and sends no status request of its own.
  ASSERT_TRUE(test::WaitUntil([&] { return p->statusError.load() == 0; }));
  peer.SetAsbReply({0x10, 0x00, 0x00, 0x00});
  peer.Send({0x10, 0x00, 0x00, 0x00});
  ASSERT_TRUE(test::WaitUntil([&] { return d->drawerSensorLow.load() == 1; }));
  const size_t sent = peer.Received().size();
  EXPECT_EQ(d->CheckReady(), 0);
  EXPECT_EQ(d->drawerSensorLow.load(), 1);
  EXPECT_EQ(peer.Received().size(), sent);
  // Both port objects, one device; releasing both closes it.
  EXPECT_EQ(p->DeviceHandle(), d->DeviceHandle());
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 1);
  p->Close();
  EXPECT_TRUE(d->IsPortOwner());
  // With the printer's reader gone, the drawer asks for itself (nobody answers here).
  const size_t sentBefore = peer.Received().size();
  EXPECT_EQ(d->CheckReady(), 0);
  EXPECT_TRUE(peer.WaitReceived(sentBefore + 3));
  d->Close();
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);
}

TEST_P(PrinterClassPortTest, DrawerOnlyCheckReadyAsksThePrinterForTheSensor) {
  peer.StartPrinter({}, {0x12});  // DLE EOT 1 answer: pin 3 low
  auto d = OpenDrawer();
  ASSERT_EQ(d->StartMonitor(3000), 0);
  EXPECT_FALSE(d->StatusReaderRunning());
  EXPECT_EQ(d->CheckReady(), 0);
  EXPECT_EQ(d->drawerSensorLow.load(), 1);
  Bytes got = peer.Received();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(Bytes(got.end() - 3, got.end()), kDleEot);
  // No printer to ask: the state is unknown, not "closed and ready".
  peer.CloseMaster();
  EXPECT_EQ(d->CheckReady(), OPOS_E_ILLEGAL);
  EXPECT_EQ(d->errorLatched.load(), 1);
}

TEST_P(PrinterClassPortTest, SecondPrinterIsRefused) {
  auto p = OpenPrinter();
  auto second = Make();
  second->SetName("KLP-80");
  FakePrinter other;
  second->SetOwner(&other, nullptr);
  EXPECT_EQ(second->Open(Config(peer.Slave(), "KLP-80")), 0);
  p->Close();
  EXPECT_EQ(second->Open(Config(peer.Slave(), "KLP-80")), 1);
}

TEST_P(PrinterClassPortTest, VanishedPrinterIsAStatusError) {
  auto p = OpenPrinter();
  ASSERT_EQ(p->StartMonitor(3000), 0);
  peer.CloseMaster();
  ASSERT_TRUE(printer.imagesLost.Wait(5000));
  ASSERT_TRUE(test::WaitUntil([&] { return p->statusError.load() == 1; }));
  EXPECT_EQ(p->deviceLost.load(), 1);
  EXPECT_EQ(p->CheckReady(), OPOS_E_ILLEGAL);
}

INSTANTIATE_TEST_SUITE_P(Transports, PrinterClassPortTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) { return p.param ? "Usb" : "Parallel"; });

TEST(ParallelPort, LptNameFollowsItsLink) {
  PtyPeer peer;
  test::ScopedLink lpt3(platform::PortDirectory(), "lpt3", peer.Slave());
  CParallelPort port;
  port.SetName("KLP-80");
  FakePrinter printer;
  port.SetOwner(&printer, nullptr);
  ASSERT_EQ(port.Open(Config("LPT3", "KLP-80")), 1);
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 1);
}

TEST(PrinterClassPorts, EmptyOrUnusableDevicesFailOpen) {
  std::string file = test::FreshDir("usb-file") + "/plain";
  std::ofstream(file) << "x";
  for (const std::string& link : {std::string(), file, std::string("usb:9-9"), std::string("USB001")}) {
    CUsbPort port;
    port.SetName("KLP-80");
    FakePrinter printer;
    port.SetOwner(&printer, nullptr);
    EXPECT_EQ(port.Open(Config(link, "KLP-80")), 0) << link;
  }
  // A plain file is no printer either.
  CParallelPort parallel;
  parallel.SetName("KLP-80");
  FakePrinter printer;
  parallel.SetOwner(&printer, nullptr);
  EXPECT_EQ(parallel.Open(Config(file, "KLP-80")), 0);
  EXPECT_EQ(parallel.Open(Config("LPT0", "KLP-80")), 0);
}

TEST(UsbPort, DevicePathOfTheSocketReachesThePrintersNode) {
  // A fake sysfs with a printer in socket 1-1.4 whose driver node is lp0, and
  // a device folder where lp0 is the pseudo-terminal.
  PtyPeer peer;
  std::string sysfs = test::FreshDir("sysfs");
  std::string devdir = test::FreshDir("usbdev");
  fs::create_directories(sysfs + "/bus/usb/devices/1-1.4");
  fs::create_directories(sysfs + "/bus/usb/devices/1-1.4:1.0/usbmisc/lp0");
  fs::create_symlink(peer.Slave(), devdir + "/lp0");
  ::setenv("OPOS_SYSFS_ROOT", sysfs.c_str(), 1);
  ::setenv("OPOS_USB_DEV_DIR", devdir.c_str(), 1);
  CUsbPort port;
  port.SetName("KLP-80");
  FakePrinter printer;
  port.SetOwner(&printer, nullptr);
  EXPECT_EQ(port.Open(Config("usb:1-1.4", "KLP-80")), 1);
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 1);
  port.Close();
  EXPECT_EQ(port.Open(Config("usb:1-1.5", "KLP-80")), 0);  // nothing in that socket
  ::unsetenv("OPOS_SYSFS_ROOT");
  ::unsetenv("OPOS_USB_DEV_DIR");
}

}  // namespace
}  // namespace opos
