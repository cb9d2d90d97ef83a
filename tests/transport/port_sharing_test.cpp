// Printer and drawer services sharing one port, and one service of a kind per
// port, within a process and across processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <memory>

#include "platform/port_names.h"
#include "tests/transport/pty_peer.h"
#include "transport/serial/serial_port.h"

namespace opos {
namespace {

using test::Bytes;
using test::FakeDrawer;
using test::FakePrinter;
using test::PtyPeer;

DeviceConfig Config(const std::string& port, const std::string& deviceName) {
  DeviceConfig c;
  c.Port = port;
  c.Baudrate = 6;
  c.Parity = 0;
  c.Stop = 1;
  c.DeviceName = deviceName;
  return c;
}

class PortSharingTest : public testing::Test {
 protected:
  int OpenPrinter(CSerialPort& port, const std::string& portName, FakePrinter* service = nullptr) {
    port.SetName("KLP-80");
    port.SetOwner(service ? service : &printer, nullptr);
    return port.Open(Config(portName, "KLP-80"));
  }
  int OpenDrawer(CSerialPort& port, const std::string& portName) {
    port.SetName("StandardCashDrawer");
    port.SetOwner(nullptr, &drawer);
    return port.Open(Config(portName, "StandardCashDrawer"));
  }
  PtyPeer peer;
  FakePrinter printer;
  FakeDrawer drawer;
};

TEST_F(PortSharingTest, PrinterAndDrawerShareOneDeviceAndKnowBothServices) {
  test::ScopedLink com12(platform::PortDirectory(), "com12", peer.slave());
  CSerialPort p, d;
  ASSERT_EQ(OpenPrinter(p, "COM12"), 1);
  ASSERT_EQ(OpenDrawer(d, peer.slave()), 1);  // the same device by its own path
  EXPECT_EQ(p.DeviceHandle(), d.DeviceHandle());
  EXPECT_EQ(test::OpenDescriptorsOn(peer.slave()), 1);
  EXPECT_EQ(p.PortUsers(), 2);
  EXPECT_TRUE(p.IsPortOwner());
  EXPECT_FALSE(d.IsPortOwner());
  EXPECT_EQ(p.printer.load(), &printer);
  EXPECT_EQ(p.drawer.load(), &drawer);
  EXPECT_EQ(d.printer.load(), &printer);
  EXPECT_EQ(d.drawer.load(), &drawer);

  ASSERT_EQ(p.StartMonitor(1000), 0);
  const int withPrinterReader = test::ThreadCount();
  ASSERT_EQ(d.StartMonitor(1000), 0);
  EXPECT_EQ(test::ThreadCount(), withPrinterReader + 1);  // one status reader each

  // Whichever reader takes a report, both port objects see it.
  p.bFastPoll.store(1);
  d.bFastPoll.store(1);
  peer.Drain();
  peer.Send({0x34, 0x00, 0x00, 0x00});
  ASSERT_TRUE(test::WaitUntil([&] { return p.coverOpen.load() == 1 && d.coverOpen.load() == 1; }));
  peer.Send({0x10, 0x00, 0x00, 0x00});
  ASSERT_TRUE(test::WaitUntil([&] { return p.drawerSensorLow.load() == 1 && d.drawerSensorLow.load() == 1; }));
  EXPECT_EQ(p.coverOpen.load(), 0);
  EXPECT_EQ(d.coverOpen.load(), 0);
  EXPECT_EQ(d.CheckReady(), 0);  // the drawer side answers ready and leaves the sensor alone
  EXPECT_EQ(d.drawerSensorLow.load(), 1);

  // The process-ID response reaches the printer service through either reader, once.
  peer.Send({0x37, 0x22, 'F', 'F', 'F', 'F', 0x00});
  ASSERT_TRUE(printer.processIdSeen.Wait(5000));
  EXPECT_EQ(printer.processIdCalls.load(), 1);
  p.Close();
  EXPECT_EQ(test::ThreadCount(), withPrinterReader);
  EXPECT_TRUE(d.StatusReaderRunning());
  d.Close();
  EXPECT_EQ(test::ThreadCount(), withPrinterReader - 1);
}

// Owner hand-over: whichever leaves first, the other keeps the device open
// and forgets the leaver's service; the last one out closes it.
void HandOver(PortSharingTest* t, PtyPeer& peer, CSerialPort& first, CSerialPort& second, bool printerFirst,
              FakePrinter* printer, FakeDrawer* drawer) {
  ASSERT_EQ(first.StartMonitor(1000), 0);
  ASSERT_EQ(second.StartMonitor(1000), 0);
  ASSERT_TRUE(first.IsPortOwner());
  first.Close();
  EXPECT_TRUE(second.IsPortOwner());
  EXPECT_EQ(second.PortUsers(), 1);
  EXPECT_EQ(test::OpenDescriptorsOn(peer.slave()), 1);
  if (printerFirst) {
    EXPECT_EQ(second.printer.load(), nullptr);
    EXPECT_EQ(second.drawer.load(), drawer);
  } else {
    EXPECT_EQ(second.drawer.load(), nullptr);
    EXPECT_EQ(second.printer.load(), printer);
  }
  peer.Drain();
  const Bytes pulse{0x1B, 0x70, 0x30, 0x64, 0xC8};
  ASSERT_EQ(second.Write(pulse.data(), pulse.size()), 1);
  EXPECT_EQ(peer.ReadFor(pulse.size()), pulse);
  second.Close();
  EXPECT_EQ(test::OpenDescriptorsOn(peer.slave()), 0);
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 0);
  (void)t;
}

TEST_F(PortSharingTest, OwnerHandOverWhenThePrinterLeavesFirst) {
  CSerialPort p, d;
  ASSERT_EQ(OpenPrinter(p, peer.slave()), 1);
  ASSERT_EQ(OpenDrawer(d, peer.slave()), 1);
  HandOver(this, peer, p, d, true, &printer, &drawer);
}

TEST_F(PortSharingTest, OwnerHandOverWhenTheDrawerLeavesFirst) {
  CSerialPort p, d;
  ASSERT_EQ(OpenDrawer(d, peer.slave()), 1);
  ASSERT_EQ(OpenPrinter(p, peer.slave()), 1);
  HandOver(this, peer, d, p, false, &printer, &drawer);
}

TEST_F(PortSharingTest, DrawerReachesThePrinterServiceOnlyWhileItIsOnThePort) {
  CSerialPort p, d;
  ASSERT_EQ(OpenDrawer(d, peer.slave()), 1);
  auto reaches = [&d](const IPrinterLink* expected) {
    const IPrinterLink* seen = nullptr;
    bool called = d.WithPrinter([&](const IPrinterLink& link) { seen = &link; });
    return called && seen == expected;
  };
  EXPECT_FALSE(d.WithPrinter([](const IPrinterLink&) { ADD_FAILURE() << "no printer on the port yet"; }));
  ASSERT_EQ(OpenPrinter(p, peer.slave()), 1);
  EXPECT_TRUE(reaches(&printer));
  p.Close();
  EXPECT_FALSE(d.WithPrinter([](const IPrinterLink&) { ADD_FAILURE() << "the printer has left"; }));
}

TEST_F(PortSharingTest, SecondServiceOfTheSameKindIsRefusedUntilTheFirstLeaves) {
  FakePrinter other;
  CSerialPort p1, p2, d1, d2;
  ASSERT_EQ(OpenPrinter(p1, peer.slave()), 1);
  EXPECT_EQ(OpenPrinter(p2, peer.slave(), &other), 0);
  ASSERT_EQ(OpenDrawer(d1, peer.slave()), 1);
  EXPECT_EQ(OpenDrawer(d2, peer.slave()), 0);
  EXPECT_EQ(p1.PortUsers(), 2);
  // The refused one changed nothing: the drawer still knows the first printer.
  EXPECT_EQ(d1.printer.load(), &printer);
  p1.Close();
  ASSERT_EQ(OpenPrinter(p2, peer.slave(), &other), 1);
  EXPECT_EQ(d1.printer.load(), &other);
  EXPECT_EQ(p2.drawer.load(), &drawer);
}

TEST_F(PortSharingTest, PortsAboveNineAndPathsMatchByDeviceNotByDigits) {
  PtyPeer other;
  test::ScopedLink com1(platform::PortDirectory(), "com1", other.slave());
  test::ScopedLink com11(platform::PortDirectory(), "com11", peer.slave());
  CSerialPort p, d, d1;
  ASSERT_EQ(OpenPrinter(p, "COM11"), 1);
  // "COM1" is a different device: no join, a slot of its own.
  ASSERT_EQ(OpenDrawer(d1, "COM1"), 1);
  EXPECT_EQ(p.PortUsers(), 1);
  EXPECT_NE(p.DeviceHandle(), d1.DeviceHandle());
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 2);
  d1.Close();
  // The device of COM11 by its own path joins.
  ASSERT_EQ(OpenDrawer(d, peer.slave()), 1);
  EXPECT_EQ(p.PortUsers(), 2);
  EXPECT_EQ(p.DeviceHandle(), d.DeviceHandle());
}

TEST_F(PortSharingTest, FifthDistinctPortIsRefusedUntilASlotIsFree) {
  PtyPeer more[4];
  FakePrinter services[5];
  CSerialPort ports[5];
  for (int i = 0; i < 4; ++i) ASSERT_EQ(OpenPrinter(ports[i], more[i].slave(), &services[i]), 1);
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 4);
  EXPECT_EQ(OpenPrinter(ports[4], peer.slave(), &services[4]), 0);
  EXPECT_EQ(test::OpenDescriptorsOn(peer.slave()), 0);
  // A joiner of a port already open needs no slot.
  CSerialPort d;
  EXPECT_EQ(OpenDrawer(d, more[0].slave()), 1);
  ports[2].Close();
  EXPECT_EQ(OpenPrinter(ports[4], peer.slave(), &services[4]), 1);
}

TEST_F(PortSharingTest, OtherProcessHoldingThePrinterSideRefusesUntilItDies) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    CSerialPort port;
    port.SetName("KLP-80");
    FakePrinter service;
    port.SetOwner(&service, nullptr);
    char ok = port.Open(Config(peer.slave(), "KLP-80")) == 1 ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, 'y');

  CSerialPort p, d;
  EXPECT_EQ(OpenPrinter(p, peer.slave()), 0);
  // The other kind is free to use the port.
  EXPECT_EQ(OpenDrawer(d, peer.slave()), 1);
  d.Close();

  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // The kernel dropped the dead process's lock.
  EXPECT_EQ(OpenPrinter(p, peer.slave()), 1);
}

}  // namespace
}  // namespace opos
