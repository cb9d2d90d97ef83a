#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <latch>
#include <thread>

#include "tests/vprinter/pty_client.h"
#include "tools/vprinter/virtual_printer.h"

using namespace vprinter;
using namespace vprinter_test;
using namespace std::chrono_literals;

namespace {

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string LinkTarget(const std::string& link) {
  char buf[256];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TEST(VirtualPrinterPty, RoundTripFromAPlainClient) {
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  VirtualPrinterOptions opt;
  opt.linkPath = dir.File("printer");
  opt.capturePath = dir.File("capture.bin");
  VirtualPrinter printer(opt);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  EXPECT_EQ(LinkTarget(opt.linkPath), printer.SlavePath());

  PtyClient host(opt.linkPath);
  ASSERT_TRUE(host.Ok());
  ASSERT_TRUE(host.ConfigureLikeSerialPort());

  const Bytes asbOn = Hex("1D 61 FF");
  const Bytes kick = Hex("1B 70 30 64 C8");
  const Bytes status2 = Hex("10 04 02");
  ASSERT_TRUE(host.WriteAll(asbOn));
  EXPECT_EQ(host.ReadN(4), Hex("14 00 00 00"));

  ASSERT_TRUE(host.WriteAll(kick));
  EXPECT_EQ(host.ReadN(4), Hex("10 00 00 00")) << "drawer opened after the pulse";
  EXPECT_EQ(printer.DrawerKicks(), 1u);
  EXPECT_TRUE(printer.Status().drawerOpen);

  printer.SetCoverOpen(true);
  EXPECT_EQ(host.ReadN(4), Hex("38 00 00 00"));
  ASSERT_TRUE(host.WriteAll(status2));
  EXPECT_EQ(host.ReadN(1), Hex("16"));

  const Bytes all = Cat({asbOn, kick, status2});
  ASSERT_TRUE(printer.WaitForBytes(all.size(), 5s));
  EXPECT_EQ(printer.Capture(), all);
  EXPECT_EQ(ReadFile(opt.capturePath), all);
  ASSERT_GE(printer.Commands().size(), 3u);
  EXPECT_EQ(printer.Commands()[1].kind, CommandKind::DrawerKick);

  printer.Stop();
  struct stat st {};
  EXPECT_NE(lstat(opt.linkPath.c_str(), &st), 0) << "link removed on stop";
}

TEST(VirtualPrinterPty, EveryByteValuePassesUnchangedBothWays) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.Start());
  PtyClient host(printer.SlavePath());  // no line settings of its own: the printer's raw mode holds
  ASSERT_TRUE(host.Ok());

  Bytes every(256);
  for (size_t i = 0; i < every.size(); ++i) every[i] = static_cast<uint8_t>(i);
  // IDs that a cooked terminal would translate or swallow: LF, CR, XON, XOFF.
  const Bytes request = Hex("1D 28 48 06 00 30 30 0A 0D 11 13");
  ASSERT_TRUE(host.WriteAll(Cat({every, request})));
  EXPECT_EQ(host.ReadN(7), Hex("37 22 0A 0D 11 13 00"));
  ASSERT_TRUE(printer.WaitForBytes(every.size() + request.size(), 5s));
  EXPECT_EQ(printer.Capture(), Cat({every, request}));
}

TEST(VirtualPrinterPty, ClientsMayOpenAndCloseThePortRepeatedly) {
  TempDir dir;
  VirtualPrinterOptions opt;
  opt.linkPath = dir.File("printer");
  VirtualPrinter printer(opt);
  ASSERT_TRUE(printer.Start());
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    PtyClient host(opt.linkPath);
    ASSERT_TRUE(host.Ok());
    ASSERT_TRUE(host.ConfigureLikeSerialPort());
    ASSERT_TRUE(host.WriteAll(Hex("10 04 01")));
    EXPECT_EQ(host.ReadN(1), Hex("16"));
  }
  EXPECT_EQ(printer.Status().bytesReceived, 15u);
  EXPECT_EQ(printer.Status().realtimeReplies, 5u);
}

TEST(VirtualPrinterPty, LinkReplacesAStaleLinkButNeverAFile) {
  TempDir dir;
  const std::string link = dir.File("printer");
  ASSERT_EQ(::symlink("/nonexistent/pts", link.c_str()), 0);
  {
    VirtualPrinterOptions opt;
    opt.linkPath = link;
    VirtualPrinter printer(opt);
    ASSERT_TRUE(printer.Start());
    EXPECT_EQ(LinkTarget(link), printer.SlavePath());
    // Someone else took the name meanwhile: stopping leaves their link alone.
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
  }
  EXPECT_EQ(LinkTarget(link), "/dev/null");

  const std::string file = dir.File("plain");
  std::ofstream(file) << "keep";
  VirtualPrinterOptions opt;
  opt.linkPath = file;
  VirtualPrinter printer(opt);
  std::string error;
  EXPECT_FALSE(printer.Start(&error));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(file), Text("keep"));

  VirtualPrinterOptions badCapture;
  badCapture.capturePath = dir.File("missing-dir/capture.bin");
  VirtualPrinter printer2(badCapture);
  EXPECT_FALSE(printer2.Start(&error));
  EXPECT_NE(error.find("capture.bin"), std::string::npos) << error;
}

TEST(VirtualPrinterPty, WaitsEndOnTheConditionOrTheTimeLimit) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.Start());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(printer.WaitForBytes(1, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 100ms);

  std::latch opened(1);
  std::thread opener([&] {
    opened.wait();
    printer.SetPaperEnd(true);
  });
  opened.count_down();
  EXPECT_TRUE(printer.WaitUntil([](const PrinterModel& m) { return m.Status().paperEnd; }, 5s));
  opener.join();
}

// Host traffic, fault changes and observers on several threads at once: the
// printer must keep every byte and answer every change (and run clean under TSan).
TEST(VirtualPrinterPty, ConcurrentTrafficControlAndObservers) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.Start());
  PtyClient host(printer.SlavePath());
  ASSERT_TRUE(host.Ok());
  ASSERT_TRUE(host.WriteAll(Hex("1D 61 FF")));
  ASSERT_EQ(host.ReadN(4), Hex("14 00 00 00"));

  constexpr int kLines = 200;
  constexpr int kToggles = 100;
  std::latch go(4);
  Bytes replies;
  std::thread reader([&] {
    go.arrive_and_wait();
    replies = host.ReadN(kToggles * 4, 20s);
  });
  std::thread writer([&] {
    go.arrive_and_wait();
    for (int i = 0; i < kLines; ++i) ASSERT_TRUE(host.WriteAll(Text("line of text\n")));
  });
  std::thread toggler([&] {
    go.arrive_and_wait();
    for (int i = 0; i < kToggles; ++i) printer.SetCoverOpen(i % 2 == 0);
  });
  std::thread observer([&] {
    go.arrive_and_wait();
    for (int i = 0; i < 50; ++i) {
      (void)printer.Status();
      (void)printer.Commands();
      (void)printer.Capture();
    }
  });
  writer.join();
  toggler.join();
  observer.join();
  reader.join();
  ASSERT_TRUE(printer.WaitForBytes(3 + kLines * 13, 10s));
  EXPECT_EQ(printer.Capture().size(), 3u + kLines * 13u);
  ASSERT_EQ(replies.size(), static_cast<size_t>(kToggles * 4));
  for (int i = 0; i < kToggles; ++i) {
    EXPECT_EQ(replies[static_cast<size_t>(i) * 4], i % 2 == 0 ? 0x3C : 0x14) << i;
  }
}
