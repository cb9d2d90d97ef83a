// Printer and drawer services sharing one port within a process, one process
// per device across processes, and the cause of every refused open.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/port_lock.h"
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
  test::ScopedLink com12(platform::PortDirectory(), "com12", peer.Slave());
  CSerialPort p, d;
  ASSERT_EQ(OpenPrinter(p, "COM12"), 1);
  ASSERT_EQ(OpenDrawer(d, peer.Slave()), 1);  // the same device by its own path
  EXPECT_EQ(p.DeviceHandle(), d.DeviceHandle());
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 1);
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
  ASSERT_TRUE(
      test::WaitUntil([&] { return p.drawerSensorLow.load() == 1 && d.drawerSensorLow.load() == 1; }));
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
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 1);
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
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 0);
  (void)t;
}

TEST_F(PortSharingTest, OwnerHandOverWhenThePrinterLeavesFirst) {
  CSerialPort p, d;
  ASSERT_EQ(OpenPrinter(p, peer.Slave()), 1);
  ASSERT_EQ(OpenDrawer(d, peer.Slave()), 1);
  HandOver(this, peer, p, d, true, &printer, &drawer);
}

TEST_F(PortSharingTest, OwnerHandOverWhenTheDrawerLeavesFirst) {
  CSerialPort p, d;
  ASSERT_EQ(OpenDrawer(d, peer.Slave()), 1);
  ASSERT_EQ(OpenPrinter(p, peer.Slave()), 1);
  HandOver(this, peer, d, p, false, &printer, &drawer);
}

TEST_F(PortSharingTest, DrawerReachesThePrinterServiceOnlyWhileItIsOnThePort) {
  CSerialPort p, d;
  ASSERT_EQ(OpenDrawer(d, peer.Slave()), 1);
  auto reaches = [&d](const IPrinterLink* expected) {
    const IPrinterLink* seen = nullptr;
    bool called = d.WithPrinter([&](const IPrinterLink& link) { seen = &link; });
    return called && seen == expected;
  };
  EXPECT_FALSE(d.WithPrinter([](const IPrinterLink&) { ADD_FAILURE() << "no printer on the port yet"; }));
  ASSERT_EQ(OpenPrinter(p, peer.Slave()), 1);
  EXPECT_TRUE(reaches(&printer));
  p.Close();
  EXPECT_FALSE(d.WithPrinter([](const IPrinterLink&) { ADD_FAILURE() << "the printer has left"; }));
}

TEST_F(PortSharingTest, SecondServiceOfTheSameKindIsRefusedUntilTheFirstLeaves) {
  FakePrinter other;
  CSerialPort p1, p2, d1, d2;
  ASSERT_EQ(OpenPrinter(p1, peer.Slave()), 1);
  EXPECT_EQ(OpenPrinter(p2, peer.Slave(), &other), 0);
  ASSERT_EQ(OpenDrawer(d1, peer.Slave()), 1);
  EXPECT_EQ(OpenDrawer(d2, peer.Slave()), 0);
  EXPECT_EQ(p1.PortUsers(), 2);
  // The refused one changed nothing: the drawer still knows the first printer.
  EXPECT_EQ(d1.printer.load(), &printer);
  p1.Close();
  ASSERT_EQ(OpenPrinter(p2, peer.Slave(), &other), 1);
  EXPECT_EQ(d1.printer.load(), &other);
  EXPECT_EQ(p2.drawer.load(), &drawer);
}

TEST_F(PortSharingTest, PortsAboveNineAndPathsMatchByDeviceNotByDigits) {
  PtyPeer other;
  test::ScopedLink com1(platform::PortDirectory(), "com1", other.Slave());
  test::ScopedLink com11(platform::PortDirectory(), "com11", peer.Slave());
  CSerialPort p, d, d1;
  ASSERT_EQ(OpenPrinter(p, "COM11"), 1);
  // "COM1" is a different device: no join, a slot of its own.
  ASSERT_EQ(OpenDrawer(d1, "COM1"), 1);
  EXPECT_EQ(p.PortUsers(), 1);
  EXPECT_NE(p.DeviceHandle(), d1.DeviceHandle());
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 2);
  d1.Close();
  // The device of COM11 by its own path joins.
  ASSERT_EQ(OpenDrawer(d, peer.Slave()), 1);
  EXPECT_EQ(p.PortUsers(), 2);
  EXPECT_EQ(p.DeviceHandle(), d.DeviceHandle());
}

TEST_F(PortSharingTest, FifthDistinctPortIsRefusedUntilASlotIsFree) {
  PtyPeer more[4];
  FakePrinter services[5];
  CSerialPort ports[5];
  for (int i = 0; i < 4; ++i) ASSERT_EQ(OpenPrinter(ports[i], more[i].Slave(), &services[i]), 1);
  EXPECT_EQ(PortShareTable::Instance().OpenSlots(), 4);
  EXPECT_EQ(OpenPrinter(ports[4], peer.Slave(), &services[4]), 0);
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);
  // A joiner of a port already open needs no slot.
  CSerialPort d;
  EXPECT_EQ(OpenDrawer(d, more[0].Slave()), 1);
  ports[2].Close();
  EXPECT_EQ(OpenPrinter(ports[4], peer.Slave(), &services[4]), 1);
}

// A child process that opens the port (by path) and holds it until killed.
class OtherProcess {
 public:
  OtherProcess(const std::string& path, const std::string& deviceName) {
    int ready[2];
    if (::pipe(ready) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
      ::close(ready[0]);
      CSerialPort port;
      port.SetName(deviceName);
      FakePrinter printer;
      FakeDrawer drawer;
      const bool drawerSide = port.IsDrawerSide();
      port.SetOwner(drawerSide ? nullptr : &printer, drawerSide ? &drawer : nullptr);
      char ok = port.Open(Config(path, deviceName)) == 1 ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    opened_ = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
    ::close(ready[0]);
  }
  ~OtherProcess() { Kill(); }
  bool Opened() const { return opened_; }
  pid_t Pid() const { return pid_; }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool opened_ = false;
};

TEST_F(PortSharingTest, OtherProcessHoldingTheDeviceRefusesBothKindsNamingItUntilItDies) {
  OtherProcess holder(peer.Slave(), "KLP-80");
  ASSERT_TRUE(holder.Opened());
  const std::string named = "held by process " + std::to_string(holder.Pid()) + " (";
  // Neither kind, by the device's own path nor by another link to it.
  test::ScopedLink com5(platform::PortDirectory(), "com5", peer.Slave());
  CSerialPort p, d;
  for (const std::string& path : {peer.Slave(), std::string("COM5")}) {
    EXPECT_EQ(OpenPrinter(p, path), 0) << path;
    EXPECT_NE(p.FailureDetail().find(named), std::string::npos) << p.FailureDetail();
    EXPECT_EQ(OpenDrawer(d, path), 0) << path;
    EXPECT_NE(d.FailureDetail().find(named), std::string::npos) << d.FailureDetail();
  }
  // The refused opens left no descriptor of this process on the device.
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);

  holder.Kill();
  // The kernel dropped the dead process's lock.
  ASSERT_EQ(OpenDrawer(d, "COM5"), 1);
  EXPECT_EQ(d.FailureDetail(), "");
  ASSERT_EQ(OpenPrinter(p, peer.Slave()), 1);  // joins inside this process
  EXPECT_EQ(p.DeviceHandle(), d.DeviceHandle());
}

TEST_F(PortSharingTest, LockFilesAreKeyedByDeviceAndClosedToOtherUsers) {
  CSerialPort p;
  ASSERT_EQ(OpenPrinter(p, peer.Slave()), 1);
  struct stat dev {};
  ASSERT_EQ(::stat(peer.Slave().c_str(), &dev), 0);
  const std::string file = platform::PortLock::Directory() + "/" + platform::PortLock::FileName(dev.st_rdev);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  std::ifstream in(file);
  std::string pid;
  in >> pid;
  EXPECT_EQ(pid, std::to_string(::getpid()));
}

// Every way an open can fail names the path and the reason.
TEST_F(PortSharingTest, EachOpenFailureLeavesItsCause) {
  const std::string dir = test::FreshDir("odd");
  const std::string file = dir + "/plain", fifo = dir + "/fifo", loop = dir + "/loop";
  std::ofstream(file) << "x";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink(loop, loop);
  std::string vanished;
  {
    PtyPeer gone;
    vanished = gone.Slave();
  }
  struct Case {
    std::string port;
    std::string cause;
  } cases[] = {
      {dir + "/missing", dir + "/missing: No such file or directory"},
      {dir, dir + ": not a character device"},
      {file, file + ": not a character device"},
      {fifo, fifo + ": not a character device"},
      {loop, loop + ": Too many levels of symbolic links"},
      {"/dev/null", "/dev/null: not a terminal"},
      {vanished, vanished + ": "},
      {"PRN", "port \"PRN\" names no device"},
  };
  for (const Case& c : cases) {
    CSerialPort port;
    EXPECT_EQ(OpenPrinter(port, c.port), 0) << c.port;
    EXPECT_EQ(port.FailureDetail().rfind(c.cause, 0), 0u) << c.port << " -> " << port.FailureDetail();
  }
}

TEST_F(PortSharingTest, UnusableLockFolderRefusesTheOpenWithItsCause) {
  const std::string saved = std::getenv("OPOS_LOCK_DIR");
  const std::string open = test::FreshDir("open-locks");
  ::chmod(open.c_str(), 0777);
  const std::string plain = test::FreshDir("plain-locks") + "/file";
  std::ofstream(plain) << "x";
  for (const auto& [dir, cause] :
       {std::pair<std::string, std::string>{open, "writable by every user"}, {plain, "not a folder"}}) {
    ::setenv("OPOS_LOCK_DIR", dir.c_str(), 1);
    CSerialPort port;
    EXPECT_EQ(OpenPrinter(port, peer.Slave()), 0);
    EXPECT_NE(port.FailureDetail().find(cause), std::string::npos) << port.FailureDetail();
    EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);
  }
  ::setenv("OPOS_LOCK_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace opos
