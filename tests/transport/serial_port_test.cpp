#include "transport/serial/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "common/opos.h"
#include "platform/serial_io.h"
#include "tests/transport/pty_peer.h"

namespace opos {
namespace {

using test::Bytes;
using test::FakePrinter;
using test::PtyPeer;

const Bytes kAsbEnable{0x1D, 0x61, 0xFF};
const Bytes kReportReady{0x14, 0x00, 0x00, 0x00};
const Bytes kReportCoverOpen{0x34, 0x00, 0x00, 0x00};
const Bytes kReportPaperEnd{0x14, 0x00, 0x0C, 0x00};
const Bytes kProcessId{0x37, 0x22, 'F', 'F', 'F', 'F', 0x00};

DeviceConfig SerialConfig(const std::string& port, int baud = 6, int parity = 0, int stop = 1) {
  DeviceConfig c;
  c.Port = port;
  c.Baudrate = baud;
  c.Parity = parity;
  c.Stop = stop;
  c.DeviceName = "KLP-80";
  return c;
}

class SerialPortTest : public testing::Test {
 protected:
  void OpenPrinter(CSerialPort& port, const DeviceConfig& config) {
    port.SetName(config.DeviceName);
    port.SetOwner(&printer, nullptr);
    ASSERT_EQ(port.Open(config), 1);
  }
  PtyPeer peer;
  FakePrinter printer;
};

struct LineCase {
  int baud, parity, stop;
  speed_t speed;
  bool parityOn, odd, twoStops;
};
const LineCase kLineCases[] = {
    {6, 1, 2, B9600, true, false, true},
    {3, 2, 1, B1200, true, true, false},
    {10, 0, 1, B115200, false, false, false},
    {8, 0, 2, B38400, false, false, true},
};

TEST(SerialLine, CodesGiveRateParityAndStopBitsOnARaw8BitLine) {
  for (const LineCase& c : kLineCases) {
    platform::SerialLine line;
    ASSERT_TRUE(SerialLineFromCodes(SerialConfig("COM1", c.baud, c.parity, c.stop), &line));
    termios t{};
    t.c_iflag = IXON | IXOFF | ICRNL;
    t.c_cflag = CRTSCTS | CS7;
    t.c_lflag = ICANON | ECHO;
    t.c_oflag = OPOST;
    ASSERT_TRUE(platform::ApplySerialLine(line, &t));
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parityOn);
    EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
  }
  platform::SerialLine line;
  for (const DeviceConfig& bad :
       {SerialConfig("COM1", 2), SerialConfig("COM1", 11), SerialConfig("COM1", 6, 3),
        SerialConfig("COM1", 6, -1), SerialConfig("COM1", 6, 0, 0), SerialConfig("COM1", 6, 0, 3)}) {
    EXPECT_FALSE(SerialLineFromCodes(bad, &line)) << bad.Baudrate << " " << bad.Parity << " " << bad.Stop;
  }
}

TEST_F(SerialPortTest, OpenPutsTheLineOnTheDevice) {
  for (const LineCase& c : {kLineCases[0], kLineCases[2]}) {
    CSerialPort port;
    OpenPrinter(port, SerialConfig(peer.Slave(), c.baud, c.parity, c.stop));
    termios t{};
    ASSERT_EQ(::tcgetattr(peer.Master(), &t), 0);  // reads the slave's settings
    // (A pseudo-terminal keeps no parity setting, so that is not looked at here.)
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ((t.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStops);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_TRUE(port.CtsOn());  // no modem lines on a pseudo-terminal
    port.Close();
    EXPECT_EQ(port.opened.load(), 0);
  }
}

TEST_F(SerialPortTest, ParityLinesReopenOnAPseudoTerminal) {
  // The kernel drops parity on a pseudo-terminal and refuses it the second
  // time; a device configured with parity must still open again and again.
  for (int parity : {1, 2}) {
    for (int round = 0; round < 3; ++round) {
      CSerialPort port;
      OpenPrinter(port, SerialConfig(peer.Slave(), 6, parity, 1));
      EXPECT_EQ(port.opened.load(), 1) << "parity " << parity << " round " << round;
      port.Close();
    }
  }
}

TEST_F(SerialPortTest, CodesOutsideTheTablesAndBadNamesFailOpen) {
  for (const DeviceConfig& c : {SerialConfig(peer.Slave(), 2), SerialConfig(peer.Slave(), 11),
                                SerialConfig(peer.Slave(), 6, 3), SerialConfig(peer.Slave(), 6, -1),
                                SerialConfig(peer.Slave(), 6, 0, 0), SerialConfig(peer.Slave(), 6, 0, 3),
                                SerialConfig("USB001"), SerialConfig(""), SerialConfig("/no/such/tty")}) {
    CSerialPort port;
    port.SetName("KLP-80");
    port.SetOwner(&printer, nullptr);
    EXPECT_EQ(port.Open(c), 0) << c.Port << " " << c.Baudrate << " " << c.Parity << " " << c.Stop;
    EXPECT_EQ(port.opened.load(), 0);
    EXPECT_EQ(port.Write(kAsbEnable.data(), kAsbEnable.size()), 0);
  }
}

TEST_F(SerialPortTest, WritesGoOutInChunksOfAtMost64Bytes) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  Bytes data(200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  long before = test::WriteCallsOfThisThread();
  ASSERT_GE(before, 0);
  ASSERT_EQ(port.Write(data.data(), data.size()), 1);
  EXPECT_EQ(test::WriteCallsOfThisThread() - before, 4);  // 64 + 64 + 64 + 8
  EXPECT_EQ(peer.ReadFor(data.size()), data);

  // Nothing to write, nothing at all, or no port: a failure, and nothing sent.
  EXPECT_EQ(port.Write(data.data(), 0), 0);
  EXPECT_EQ(port.Write(nullptr, 10), 0);
  port.Close();
  EXPECT_EQ(port.Write(data.data(), data.size()), 0);
  EXPECT_TRUE(peer.Drain().empty());
}

TEST_F(SerialPortTest, StalledPeerTimesOutAChunkAndKeepsWhatWasTaken) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  Bytes data(256 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const uint32_t start = test::NowMs();
  EXPECT_EQ(port.Write(data.data(), data.size()), 0);  // nobody reads the master
  const uint32_t took = test::NowMs() - start;
  EXPECT_GE(took, 950u);
  EXPECT_LT(took, 3000u);
  // What the port took before it stalled is still on its way, unchanged.
  Bytes got = peer.Drain();
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
}

// A transmitter that never empties (a stuck adapter), in place of the UART.
std::atomic<int> gQueued{0};
int StuckQueue(int) {
  return gQueued.load();
}
// Empties a few bytes at a time: slow but moving.
int SlowQueue(int) {
  int left = gQueued.load();
  if (left > 0) gQueued.store(std::max(0, left - 3));
  return left;
}

TEST_F(SerialPortTest, LineThatNeverDrainsFailsTheWriteWithinTheLimitAndKeepsTheBytes) {
  struct ProbeReset {
    ~ProbeReset() { platform::SetOutputQueueProbe(nullptr); }
  } reset;
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  const Bytes data{'a', 'b', 'c'};

  gQueued.store(200);
  platform::SetOutputQueueProbe(&SlowQueue);
  EXPECT_EQ(port.Write(data.data(), data.size()), 1);  // progress keeps the drain waiting
  EXPECT_EQ(gQueued.load(), 0);
  EXPECT_EQ(port.FailureDetail(), "");

  gQueued.store(17);
  platform::SetOutputQueueProbe(&StuckQueue);
  const uint32_t start = test::NowMs();
  EXPECT_EQ(port.Write(data.data(), data.size()), 0);
  const uint32_t took = test::NowMs() - start;
  EXPECT_GE(took, 950u);
  EXPECT_LT(took, 3000u);
  EXPECT_NE(port.FailureDetail().find("write to " + peer.Slave() + ": the output did not leave the port"),
            std::string::npos)
      << port.FailureDetail();
  // Nothing the write accepted was thrown away.
  EXPECT_EQ(peer.ReadFor(6), (Bytes{'a', 'b', 'c', 'a', 'b', 'c'}));
  const uint32_t closing = test::NowMs();
  port.Close();
  EXPECT_LT(test::NowMs() - closing, 1000u);
}

TEST_F(SerialPortTest, PseudoTerminalLinesFollowTheConfiguredLineStateFile) {
  const std::string file = test::FreshDir("line") + "/state";
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  EXPECT_TRUE(port.CtsOn());  // not configured: a pseudo-terminal's CTS reads as on
  ::setenv("OPOS_PTY_LINE_STATE", file.c_str(), 1);
  for (const char* state : {"0\n", "1\n", "0"}) {
    std::ofstream(file) << state;
    EXPECT_EQ(port.CtsOn(), state[0] == '1') << state;
  }
  ::unsetenv("OPOS_PTY_LINE_STATE");
  EXPECT_TRUE(port.CtsOn());
}

TEST_F(SerialPortTest, PortThatVanishesMidWriteFailsTheWriteWithoutAHang) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  Bytes data(1024 * 1024, 0x41);
  std::atomic<int> result{-1};
  std::atomic<uint32_t> finishedAt{0};
  std::thread writer([&] {
    result.store(port.Write(data.data(), data.size()));
    finishedAt.store(test::NowMs());
  });
  // The write is under way once bytes arrive; then the printer disappears.
  ASSERT_EQ(peer.ReadFor(4096).size(), 4096u);
  const uint32_t closedAt = test::NowMs();
  peer.CloseMaster();
  writer.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_LT(finishedAt.load() - closedAt, 900u);  // the hang-up, not the chunk limit
  // And a later write fails at once too.
  const uint32_t again = test::NowMs();
  EXPECT_EQ(port.Write(data.data(), 10), 0);
  EXPECT_LT(test::NowMs() - again, 500u);
}

TEST_F(SerialPortTest, WriteLeavesArrivedStatusBytesForTheReader) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  peer.Send(kReportCoverOpen);
  ASSERT_TRUE(test::WaitUntil([&] {
    pollfd p{port.DeviceHandle(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
  }));
  ASSERT_EQ(port.Write(kAsbEnable.data(), kAsbEnable.size()), 1);
  uint8_t buf[16] = {};
  ASSERT_EQ(port.Read(buf, sizeof buf), 4);
  EXPECT_EQ(Bytes(buf, buf + 4), kReportCoverOpen);
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);  // nothing waiting: no wait either
}

TEST_F(SerialPortTest, StartMonitorEnablesAsbAndTakesTheFirstReportWhole) {
  peer.StartPrinter({0x30, 0x00, 0x00, 0x00});  // cover open, drawer pin 3 low
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  ASSERT_EQ(port.StartMonitor(1000), 0);
  EXPECT_TRUE(port.StatusReaderRunning());
  Bytes got = peer.Received();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), kAsbEnable);
  // A printer claimed with its cover open sends no other report until the
  // cover moves: the claim's report must count.
  EXPECT_EQ(port.drawerSensorLow.load(), 1);
  EXPECT_EQ(port.coverOpen.load(), 1);
  EXPECT_EQ(port.CheckReady(), 201);
  EXPECT_EQ(port.StartMonitor(1000), OPOS_E_ILLEGAL);  // once per open
}

TEST_F(SerialPortTest, StatusReaderDecodesReportsAndTheProcessIdResponse) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  port.bFastPoll.store(1);
  ASSERT_EQ(port.StartMonitor(1000), 0);
  ASSERT_EQ(peer.ReadFor(3), kAsbEnable);

  peer.Send(kReportCoverOpen);
  ASSERT_TRUE(test::WaitUntil([&] { return port.coverOpen.load() == 1; }));
  EXPECT_EQ(port.statusError.load(), 1);
  EXPECT_EQ(port.drawerSensorLow.load(), 0);  // 0x34: pin 3 high

  peer.Send(kReportPaperEnd);
  ASSERT_TRUE(test::WaitUntil([&] { return port.paperEnd.load() == 1; }));
  EXPECT_EQ(port.coverOpen.load(), 0);

  peer.Send({0x10, 0x00, 0x00, 0x00});
  ASSERT_TRUE(test::WaitUntil([&] { return port.paperEnd.load() == 0; }));
  EXPECT_EQ(port.statusError.load(), 0);
  EXPECT_EQ(port.drawerSensorLow.load(), 1);

  // Three stray bytes and the process-ID response: the printer link hears of
  // the response, and no flag moves (not even from the response's own bytes).
  Bytes mixed{0x34, 0x00, 0x0C};
  mixed.insert(mixed.end(), kProcessId.begin(), kProcessId.end());
  peer.Send(mixed);
  ASSERT_TRUE(printer.processIdSeen.Wait(5000));
  EXPECT_EQ(port.coverOpen.load(), 0);
  EXPECT_EQ(port.paperEnd.load(), 0);
  EXPECT_EQ(port.statusError.load(), 0);
  EXPECT_EQ(port.drawerSensorLow.load(), 1);
}

TEST_F(SerialPortTest, CheckReadyAnswersFromTheReportsAndSettlesAfterAnError) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  port.bFastPoll.store(1);
  ASSERT_EQ(port.StartMonitor(1000), 0);
  EXPECT_EQ(port.CheckReady(), 0);

  peer.Send(kReportCoverOpen);
  ASSERT_TRUE(test::WaitUntil([&] { return port.coverOpen.load() == 1; }));
  EXPECT_EQ(port.CheckReady(), 201);
  EXPECT_EQ(port.errorLatched.load(), 1);

  peer.Send({0x14, 0x00, 0x04, 0x00});
  ASSERT_TRUE(test::WaitUntil([&] { return port.paperEnd.load() == 1; }));
  EXPECT_EQ(port.CheckReady(), 203);

  peer.Send(kReportReady);
  ASSERT_TRUE(test::WaitUntil([&] { return port.statusError.load() == 0; }));
  uint32_t start = test::NowMs();
  EXPECT_EQ(port.CheckReady(), 0);
  EXPECT_GE(test::NowMs() - start, 490u);  // the printer's time to settle
  EXPECT_EQ(port.errorLatched.load(), 0);
  start = test::NowMs();
  EXPECT_EQ(port.CheckReady(), 0);
  EXPECT_LT(test::NowMs() - start, 250u);
}

TEST_F(SerialPortTest, LostPrinterIsAStatusErrorAndItsImageIsGone) {
  CSerialPort port;
  OpenPrinter(port, SerialConfig(peer.Slave()));
  port.bFastPoll.store(1);
  ASSERT_EQ(port.StartMonitor(1000), 0);
  peer.CloseMaster();
  ASSERT_TRUE(printer.imagesLost.Wait(5000));
  ASSERT_TRUE(test::WaitUntil([&] { return port.statusError.load() == 1; }));
  EXPECT_EQ(port.deviceLost.load(), 1);
  EXPECT_EQ(port.CheckReady(), OPOS_E_ILLEGAL);
  port.bFastPoll.store(0);
  ASSERT_TRUE(printer.imagesLost.Wait(0));
  printer.imagesLost.Reset();
  ASSERT_TRUE(printer.imagesLost.Wait(5000));  // now in a 500 ms pass
  const uint32_t start = test::NowMs();
  port.Close();  // a reader at rest between passes ends at once
  EXPECT_LT(test::NowMs() - start, 400u);
  EXPECT_FALSE(port.StatusReaderRunning());
  EXPECT_EQ(test::OpenDescriptorsOn(peer.Slave()), 0);
  EXPECT_EQ(port.CheckReady(), OPOS_E_ILLEGAL);  // closed
}

}  // namespace
}  // namespace opos
