// The field trace: off by default; from OPOS_TRACE or the device's TraceFile
// value it tells the story of a receipt and a drawer cycle; a trace file that
// cannot be opened leaves the device working.
#include <fstream>
#include <sstream>

#include "opos/cash_drawer.h"
#include "tests/receipt/receipt_env.h"

namespace opos::receipt {
namespace {

class TraceReceipt : public ReceiptEnvironment {
 protected:
  void TearDown() override {
    ReceiptEnvironment::TearDown();
    unsetenv("OPOS_TRACE");
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Each of parts appears in text, in this order; the first missing one, else "".
  static std::string MissingInOrder(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& p : parts) {
      const size_t found = text.find(p, at);
      if (found == std::string::npos) return p;
      at = found + p.size();
    }
    return "";
  }
  void PrintOneReceipt(bool powerReported = false) {
    Enable();
    if (powerReported) {
      ASSERT_TRUE(DeliverUntil(Saw("status", OPOS_SUE_POWER_ONLINE)));
    }
    ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "Hello\n"), OPOS_SUCCESS);
    ASSERT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
    printer.Close();
  }
};

TEST_F(TraceReceipt, AReceiptAndADrawerCycleReadAsTheStoryOfWhatHappened) {
  const std::string file = dir_ + "/trace.log";
  setenv("OPOS_TRACE", file.c_str(), 1);
  OpenPrinter();
  printer.SetPowerNotify(OPOS_PN_ENABLED);
  PrintOneReceipt(true);

  // Then the drawer on the same port: kicked open, closed by hand.
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\Drawer";
  AddSerialDevice(key, "KELVORA.CashDrawer.SO", "StandardCash");
  SetDword(key, "ConnectorPinNo", 2);
  SetDword(key, "OpenLevel", 1);
  control::CashDrawer drawer;
  std::vector<int32_t> reports;
  drawer.OnStatusUpdate([&](int32_t data) { reports.push_back(data); });
  auto reported = [&](size_t n) {
    for (int i = 0; i < 200 && reports.size() < n; ++i) drawer.PumpEvents(50);
    return reports.size() >= n;
  };
  ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS);
  ASSERT_EQ(drawer.ClaimDevice(1000), OPOS_SUCCESS);
  drawer.SetDeviceEnabled(true);
  ASSERT_TRUE(reported(1));
  ASSERT_EQ(drawer.OpenDrawer(), OPOS_SUCCESS);
  ASSERT_TRUE(reported(2)) << Read(file);
  vprinter_->CloseDrawer();
  ASSERT_TRUE(reported(3));
  ASSERT_EQ(drawer.ReleaseDevice(), OPOS_SUCCESS);
  drawer.Close();
  EXPECT_EQ(reports,
            (std::vector<int32_t>{CASH_SUE_DRAWERCLOSED, CASH_SUE_DRAWEROPEN, CASH_SUE_DRAWERCLOSED}));

  const std::string trace = Read(file);
  EXPECT_EQ(
      MissingInOrder(
          trace, {"[" + std::to_string(::getpid()) + " Receipt] done OpenService -> 0",
                  "call ClaimDevice(1000)", "write 3 bytes: 1d 61 ff", "done ClaimDevice -> 0",
                  "call SetPropertyNumber(3, 1)", "raise StatusUpdate 2001", "deliver StatusUpdate 2001",
                  "call PrintNormal(2, \"Hello\\x0a\")", "write 24 bytes: 1b 45 30",
                  "done PrintNormal -> 0, ResultCode 0", "call ReleaseDevice()", "done ReleaseDevice -> 0"}),
      "")
      << trace;
  const std::string drawerLine = "[" + std::to_string(::getpid()) + " Drawer] ";
  EXPECT_EQ(
      MissingInOrder(trace, {"Receipt] done ReleaseDevice -> 0", drawerLine + "done OpenService -> 0",
                             drawerLine + "call ClaimDevice(1000)", drawerLine + "done ClaimDevice -> 0",
                             drawerLine + "call SetPropertyNumber(3, 1)",
                             drawerLine + "raise StatusUpdate 0 ", drawerLine + "deliver StatusUpdate 0 ",
                             drawerLine + "call OpenDrawer()", drawerLine + "write 5 bytes: 1b 70 30 64 c8\n",
                             drawerLine + "raise StatusUpdate 1 ", drawerLine + "deliver StatusUpdate 1 ",
                             drawerLine + "raise StatusUpdate 0 ", drawerLine + "deliver StatusUpdate 0 ",
                             drawerLine + "call ReleaseDevice()", drawerLine + "done ReleaseDevice -> 0"}),
      "")
      << trace;
  EXPECT_NE(trace.find(drawerLine + "done OpenDrawer -> 0, ResultCode 0"), std::string::npos) << trace;
  for (const std::string device : {"Receipt] ", "Drawer] "})
    EXPECT_NE(trace.find(device + "read 4 bytes: "), std::string::npos) << trace;
  // Every line is stamped.
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_GE(line.size(), 24u);
    EXPECT_EQ(line[4], '-');
    EXPECT_EQ(line[19], '.');
  }
}

TEST_F(TraceReceipt, TheDeviceValueTurnsItOnAndABadFileOnlyCostsTheTrace) {
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Receipt";
  const std::string file = dir_ + "/by-value.log";
  SetSz(key, "TraceFile", file);
  OpenPrinter();
  PrintOneReceipt();
  EXPECT_NE(Read(file).find("call PrintNormal(2, \"Hello\\x0a\")"), std::string::npos);

  // A file that cannot be opened: one message, and the receipt still prints.
  const std::string bad = dir_ + "/no-such-folder/trace.log";
  setenv("OPOS_TRACE", bad.c_str(), 1);
  vprinter_.reset();
  ::testing::internal::CaptureStderr();
  OpenPrinter();
  PrintOneReceipt();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("trace file " + bad + ": No such file or directory"), std::string::npos) << err;
  EXPECT_EQ(err.find("trace file", err.find("trace file") + 1), std::string::npos) << err;
  EXPECT_NE(Printed().find("Hello"), std::string::npos);
}

}  // namespace
}  // namespace opos::receipt
