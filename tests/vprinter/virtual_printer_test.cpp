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

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string link_target(const std::string& link) {
  char buf[256];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TEST(VirtualPrinterPty, RoundTripFromAPlainClient) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  VirtualPrinterOptions opt;
  opt.link_path = dir.file("printer");
  opt.capture_path = dir.file("capture.bin");
  VirtualPrinter printer(opt);
  std::string error;
  ASSERT_TRUE(printer.start(&error)) << error;
  EXPECT_EQ(link_target(opt.link_path), printer.slave_path());

  PtyClient host(opt.link_path);
  ASSERT_TRUE(host.ok());
  ASSERT_TRUE(host.configure_like_serial_port());

  const Bytes asb_on = hex("1D 61 FF");
  const Bytes kick = hex("1B 70 30 64 C8");
  const Bytes status2 = hex("10 04 02");
  ASSERT_TRUE(host.write_all(asb_on));
  EXPECT_EQ(host.read_n(4), hex("14 00 00 00"));

  ASSERT_TRUE(host.write_all(kick));
  EXPECT_EQ(host.read_n(4), hex("10 00 00 00")) << "drawer opened after the pulse";
  EXPECT_EQ(printer.drawer_kicks(), 1u);
  EXPECT_TRUE(printer.status().drawer_open);

  printer.set_cover_open(true);
  EXPECT_EQ(host.read_n(4), hex("38 00 00 00"));
  ASSERT_TRUE(host.write_all(status2));
  EXPECT_EQ(host.read_n(1), hex("16"));

  const Bytes all = cat({asb_on, kick, status2});
  ASSERT_TRUE(printer.wait_for_bytes(all.size(), 5s));
  EXPECT_EQ(printer.capture(), all);
  EXPECT_EQ(read_file(opt.capture_path), all);
  ASSERT_GE(printer.commands().size(), 3u);
  EXPECT_EQ(printer.commands()[1].kind, CommandKind::DrawerKick);

  printer.stop();
  struct stat st {};
  EXPECT_NE(lstat(opt.link_path.c_str(), &st), 0) << "link removed on stop";
}

TEST(VirtualPrinterPty, EveryByteValuePassesUnchangedBothWays) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.start());
  PtyClient host(printer.slave_path());  // no line settings of its own: the printer's raw mode holds
  ASSERT_TRUE(host.ok());

  Bytes every(256);
  for (size_t i = 0; i < every.size(); ++i) every[i] = static_cast<uint8_t>(i);
  // IDs that a cooked terminal would translate or swallow: LF, CR, XON, XOFF.
  const Bytes request = hex("1D 28 48 06 00 30 30 0A 0D 11 13");
  ASSERT_TRUE(host.write_all(cat({every, request})));
  EXPECT_EQ(host.read_n(7), hex("37 22 0A 0D 11 13 00"));
  ASSERT_TRUE(printer.wait_for_bytes(every.size() + request.size(), 5s));
  EXPECT_EQ(printer.capture(), cat({every, request}));
}

TEST(VirtualPrinterPty, ClientsMayOpenAndCloseThePortRepeatedly) {
  TempDir dir;
  VirtualPrinterOptions opt;
  opt.link_path = dir.file("printer");
  VirtualPrinter printer(opt);
  ASSERT_TRUE(printer.start());
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    PtyClient host(opt.link_path);
    ASSERT_TRUE(host.ok());
    ASSERT_TRUE(host.configure_like_serial_port());
    ASSERT_TRUE(host.write_all(hex("10 04 01")));
    EXPECT_EQ(host.read_n(1), hex("16"));
  }
  EXPECT_EQ(printer.status().bytes_received, 15u);
  EXPECT_EQ(printer.status().realtime_replies, 5u);
}

TEST(VirtualPrinterPty, LinkReplacesAStaleLinkButNeverAFile) {
  TempDir dir;
  const std::string link = dir.file("printer");
  ASSERT_EQ(::symlink("/nonexistent/pts", link.c_str()), 0);
  {
    VirtualPrinterOptions opt;
    opt.link_path = link;
    VirtualPrinter printer(opt);
    ASSERT_TRUE(printer.start());
    EXPECT_EQ(link_target(link), printer.slave_path());
    // Someone else took the name meanwhile: stopping leaves their link alone.
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
  }
  EXPECT_EQ(link_target(link), "/dev/null");

  const std::string file = dir.file("plain");
  std::ofstream(file) << "keep";
  VirtualPrinterOptions opt;
  opt.link_path = file;
  VirtualPrinter printer(opt);
  std::string error;
  EXPECT_FALSE(printer.start(&error));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  EXPECT_EQ(read_file(file), text("keep"));

  VirtualPrinterOptions bad_capture;
  bad_capture.capture_path = dir.file("missing-dir/capture.bin");
  VirtualPrinter printer2(bad_capture);
  EXPECT_FALSE(printer2.start(&error));
  EXPECT_NE(error.find("capture.bin"), std::string::npos) << error;
}

TEST(VirtualPrinterPty, WaitsEndOnTheConditionOrTheTimeLimit) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.start());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(printer.wait_for_bytes(1, 100ms));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 100ms);

  std::latch opened(1);
  std::thread opener([&] {
    opened.wait();
    printer.set_paper_end(true);
  });
  opened.count_down();
  EXPECT_TRUE(printer.wait_until([](const PrinterModel& m) { return m.status().paper_end; }, 5s));
  opener.join();
}

// Host traffic, fault changes and observers on several threads at once: the
// printer must keep every byte and answer every change (and run clean under TSan).
TEST(VirtualPrinterPty, ConcurrentTrafficControlAndObservers) {
  VirtualPrinter printer;
  ASSERT_TRUE(printer.start());
  PtyClient host(printer.slave_path());
  ASSERT_TRUE(host.ok());
  ASSERT_TRUE(host.write_all(hex("1D 61 FF")));
  ASSERT_EQ(host.read_n(4), hex("14 00 00 00"));

  constexpr int kLines = 200;
  constexpr int kToggles = 100;
  std::latch go(4);
  Bytes replies;
  std::thread reader([&] {
    go.arrive_and_wait();
    replies = host.read_n(kToggles * 4, 20s);
  });
  std::thread writer([&] {
    go.arrive_and_wait();
    for (int i = 0; i < kLines; ++i) ASSERT_TRUE(host.write_all(text("line of text\n")));
  });
  std::thread toggler([&] {
    go.arrive_and_wait();
    for (int i = 0; i < kToggles; ++i) printer.set_cover_open(i % 2 == 0);
  });
  std::thread observer([&] {
    go.arrive_and_wait();
    for (int i = 0; i < 50; ++i) {
      (void)printer.status();
      (void)printer.commands();
      (void)printer.capture();
    }
  });
  writer.join();
  toggler.join();
  observer.join();
  reader.join();
  ASSERT_TRUE(printer.wait_for_bytes(3 + kLines * 13, 10s));
  EXPECT_EQ(printer.capture().size(), 3u + kLines * 13u);
  ASSERT_EQ(replies.size(), static_cast<size_t>(kToggles * 4));
  for (int i = 0; i < kToggles; ++i) {
    EXPECT_EQ(replies[static_cast<size_t>(i) * 4], i % 2 == 0 ? 0x3C : 0x14) << i;
  }
}
