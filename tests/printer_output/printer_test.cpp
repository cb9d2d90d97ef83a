// CPOSPrinter as the Control Object sees it, over a recording port: the bytes
// of the print methods, property setters with their effects and events, and
// the status events after enabling.
#include <algorithm>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/message_queue.h"
#include "printer/pos_printer.h"
#include "tests/printer_output/fakes.h"
#include "tests/service/test_sink.h"
#include "tests/service/test_support.h"

namespace opos {
namespace test {
namespace {

RecordingPort* gPort = nullptr;
std::unique_ptr<CPortObject> MakeRecordingPort() {
  auto port = std::make_unique<RecordingPort>();
  gPort = port.get();
  return port;
}

const LibraryProfile kTestLibrary = {
    "serialso", TransportKind::Serial, "KELVORA.RecPrinter.SO", "KELVORA.CashDrawer.SO", {}, {},
    1004001, 1003001, 1000, 1, 0, &MakeRecordingPort};

}  // namespace
}  // namespace test

const LibraryProfile& ThisLibrary() { return test::kTestLibrary; }

namespace test {
namespace {

const std::string kPrefix42 = "\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x46\x1d\x42\x30\x1b\x61\x30";

class PrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
    printer_ = new CPOSPrinter();
    port_ = gPort;
    ASSERT_EQ(printer_->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  }
  void TearDown() override { printer_->Release(); }

  void ClaimAndEnable() {
    ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
    printer_->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(Num(PIDX_ResultCode), OPOS_SUCCESS);
  }
  int32_t Num(int32_t index) { return printer_->GetPropertyNumber(index); }
  void Set(int32_t index, int32_t v) { printer_->SetPropertyNumber(index, v); }
  // Pumps this (the opening) thread until n events arrived (bounded).
  std::vector<SinkEvent> PumpFor(size_t n) {
    for (int i = 0; i < 50 && sink_.Events().size() < n; ++i) platform::PumpWait(100);
    return sink_.Events();
  }
  std::vector<int32_t> Args(const std::string& method) {
    std::vector<int32_t> out;
    for (const SinkEvent& e : sink_.Events()) {
      if (e.method == method) out.push_back(e.args[0]);
    }
    return out;
  }

  long IdleEvents() {
    const auto updates = Args("SOStatusUpdate");
    return std::count(updates.begin(), updates.end(), PTR_SUE_IDLE);
  }

  TempRegistry reg_;
  TestSink sink_;
  CPOSPrinter* printer_ = nullptr;
  RecordingPort* port_ = nullptr;
};

TEST_F(PrinterTest, PrintNormalSendsPrefixSpacingAndText) {
  ClaimAndEnable();
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), kPrefix42 + "\x1b\x33\x3c" + "abc");

  port_->ClearWritten();
  Set(PIDXPtr_RecLineChars, 56);
  Set(PIDXPtr_MapMode, PTR_MM_METRIC);
  Set(PIDXPtr_RecLineSpacing, 500);  // 40 dots
  ASSERT_EQ(printer_->PrintImmediate(PTR_S_RECEIPT, "\x1b|cAx\n"), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), "\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x47\x1d\x42\x30\x1b\x61\x30\x1b\x33\x50"
                              "\x1b\x61\x31x\n");
  EXPECT_EQ(Num(PIDXPtr_RecLinesToPaperCut), 4);  // 150 / 40 rounded

  EXPECT_EQ(printer_->PrintNormal(PTR_S_JOURNAL, "abc"), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_->PrintTwoNormal(PTR_S_RECEIPT, "a", "b"), OPOS_E_ILLEGAL);
  Set(PIDX_BinaryConversion, OPOS_BC_NIBBLE);
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "414"), OPOS_E_ILLEGAL);
  port_->ClearWritten();
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "4142"), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written().substr(port_->Written().size() - 2), "AB");
}

TEST_F(PrinterTest, PrintMethodsNeedAClaimedEnabledPrinter) {
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer_->ClearOutput(), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer_->BeginInsertion(1000), OPOS_E_NOTCLAIMED);
  // Printer properties set before the claim: 103 and no change.
  Set(PIDXPtr_RecLineChars, 56);
  EXPECT_EQ(Num(PIDX_ResultCode), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(Num(PIDXPtr_RecLineChars), 42);
  ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_DISABLED);
  EXPECT_EQ(printer_->CutPaper(100), OPOS_E_DISABLED);
  EXPECT_EQ(printer_->BeginInsertion(1000), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_->EndRemoval(), OPOS_E_ILLEGAL);
  EXPECT_EQ(port_->Written(), "");
}

TEST_F(PrinterTest, CharacterSetSendsTheCodeTableCommand) {
  ClaimAndEnable();
  Set(PIDXPtr_CharacterSet, 1252);
  EXPECT_EQ(Num(PIDX_ResultCode), OPOS_SUCCESS);
  Set(PIDXPtr_CharacterSet, 12345);
  EXPECT_EQ(Num(PIDXPtr_CharacterSet), 12345);
  EXPECT_EQ(port_->Written(), std::string("\x1b\x74\x10\x1b\x74\x00", 6));
  // A printer that cannot take it: the value is kept, the failure reported.
  port_->ready = OPOS_EPTR_COVER_OPEN;
  Set(PIDXPtr_CharacterSet, 850);
  EXPECT_EQ(Num(PIDX_ResultCode), OPOS_E_EXTENDED);
  EXPECT_EQ(Num(PIDX_ResultCodeExtended), OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(Num(PIDXPtr_CharacterSet), 850);
}

TEST_F(PrinterTest, CutRotateAndLogo) {
  ClaimAndEnable();
  ASSERT_EQ(printer_->CutPaper(50), OPOS_SUCCESS);
  ASSERT_EQ(printer_->CutPaper(100), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), "\x1b\x6d\x1b\x6d");

  port_->ClearWritten();
  ASSERT_EQ(printer_->RotatePrint(PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), "\x1b\x4c\x1b\x54\x31");
  // Held back until a line end; no ESC 3 while rotated.
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, std::string(30, 'x')), OPOS_SUCCESS);
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "\n" + std::string(45, 'y') + "\n"), OPOS_SUCCESS);
  port_->ClearWritten();
  ASSERT_EQ(printer_->RotatePrint(PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), std::string("\x1b\x57\x00\x00\x00\x00\x00\x02\x38\x04\x1b\x0c\x1b\x53", 14));
  EXPECT_EQ(printer_->RotatePrint(PTR_S_JOURNAL, PTR_RP_LEFT90), OPOS_E_ILLEGAL);
  port_->ClearWritten();
  EXPECT_EQ(printer_->RotatePrint(PTR_S_RECEIPT, 259), OPOS_SUCCESS);  // nothing to send
  EXPECT_EQ(port_->Written(), "");

  ASSERT_EQ(printer_->SetLogo(PTR_L_TOP, "\x1b|cASHOP"), OPOS_SUCCESS);
  EXPECT_EQ(printer_->SetLogo(3, "x"), OPOS_E_ILLEGAL);
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "\x1b|tL"), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written(), kPrefix42 + "\x1b\x33\x3c" + "\x1b\x61\x31SHOP");
  EXPECT_EQ(printer_->ValidateData(PTR_S_RECEIPT, "anything \x1b|bC"), OPOS_SUCCESS);
}

TEST_F(PrinterTest, PrintBarCodeSendsTheBlockOrRefuses) {
  ClaimAndEnable();
  EXPECT_EQ(printer_->PrintBarCode(PTR_S_RECEIPT, "12345", 999, 100, 200, PTR_BC_CENTER, PTR_BC_TEXT_BELOW),
            OPOS_E_ILLEGAL);
  EXPECT_EQ(port_->Written(), "");
  ASSERT_EQ(printer_->PrintBarCode(PTR_S_RECEIPT, "ABC", PTR_BCS_Code39, 100, 200, PTR_BC_CENTER,
                                   PTR_BC_TEXT_BELOW),
            OPOS_SUCCESS);
  const std::string w = port_->Written();
  EXPECT_EQ(w.substr(0, 3), "\x1d\x66\x30");  // HRI font of the 42-column mode
  EXPECT_EQ(w.substr(w.size() - 3), "ABC");
}

TEST_F(PrinterTest, AsynchronousPrintsCompleteWithTheirIdsThenIdle) {
  ClaimAndEnable();
  Set(PIDXPtr_AsyncMode, 1);
  const int32_t base = Num(PIDX_OutputID);
  for (int i = 1; i <= 3; ++i) {
    ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "line\n"), OPOS_SUCCESS);
    EXPECT_EQ(Num(PIDX_OutputID), base + i);
  }
  Set(PIDXPtr_FlagWhenIdle, 1);
  PumpFor(4);
  platform::PumpWait(200);
  EXPECT_EQ(Args("SOOutputComplete"), (std::vector<int32_t>{base + 1, base + 2, base + 3}));
  EXPECT_EQ(IdleEvents(), 1);
  EXPECT_EQ(Num(PIDX_State), OPOS_S_IDLE);
  EXPECT_EQ(Num(PIDXPtr_FlagWhenIdle), 0);
  // Idle already: the flag is answered at once.
  Set(PIDXPtr_FlagWhenIdle, 1);
  EXPECT_EQ(Num(PIDXPtr_FlagWhenIdle), 0);
  for (int i = 0; i < 20 && IdleEvents() < 2; ++i) platform::PumpWait(100);
  EXPECT_EQ(IdleEvents(), 2);
}

TEST_F(PrinterTest, ErrorEventAnsweredByTheApplication) {
  ClaimAndEnable();
  Set(PIDXPtr_AsyncMode, 1);
  port_->ready = OPOS_EPTR_COVER_OPEN;
  int32_t stateInside = 0;
  sink_.onError = [&](int32_t* response) {
    stateInside = Num(PIDX_State);
    EXPECT_EQ(*response, OPOS_ER_RETRY);
    EXPECT_EQ(Num(PIDXPtr_ErrorLevel), PTR_EL_RECOVERABLE);
    EXPECT_EQ(Num(PIDXPtr_ErrorStation), PTR_S_RECEIPT);
    EXPECT_EQ(printer_->GetPropertyString(PIDXPtr_ErrorString), "Printer cover is open.");
    port_->ready = 0;  // the cover is closed before answering
  };
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "r\n"), OPOS_SUCCESS);
  const auto ev = PumpFor(2);
  ASSERT_GE(ev.size(), 2u);
  EXPECT_EQ(ev[0].method, "SOError");
  EXPECT_EQ(ev[0].args, (std::vector<int32_t>{OPOS_E_EXTENDED, OPOS_EPTR_COVER_OPEN, OPOS_EL_OUTPUT, OPOS_ER_RETRY}));
  EXPECT_EQ(ev[1].method, "SOOutputComplete");
  EXPECT_EQ(stateInside, OPOS_S_ERROR);
  EXPECT_EQ(port_->Written(), kPrefix42 + "\x1b\x33\x3cr\n");
}

TEST_F(PrinterTest, EnablingReportsTheStatusInOrder) {
  Set(PIDX_PowerNotify, OPOS_PN_ENABLED);
  ClaimAndEnable();
  PumpFor(3);
  EXPECT_EQ(Args("SOStatusUpdate"), (std::vector<int32_t>{2001, 12, 26}));
  EXPECT_EQ(Num(PIDX_PowerState), OPOS_PS_ONLINE);
  port_->ready = OPOS_EPTR_COVER_OPEN;
  PumpFor(5);
  EXPECT_EQ(Args("SOStatusUpdate"), (std::vector<int32_t>{2001, 12, 26, 11, 2004}));
  EXPECT_EQ(Num(PIDXPtr_CoverOpen), 1);
  // Synchronous output with the cover open: 114 / 201 and nothing written.
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_EXTENDED);
  EXPECT_EQ(Num(PIDX_ResultCodeExtended), OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(port_->Written(), "");
}

TEST_F(PrinterTest, ReleaseDrainsQueuedOutputFirst) {
  ClaimAndEnable();
  Set(PIDXPtr_AsyncMode, 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "x\n"), OPOS_SUCCESS);
  ASSERT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(port_->Written().size(), 3 * (kPrefix42.size() + 5));
  EXPECT_EQ(Num(PIDX_Claimed), 0);
}

}  // namespace
}  // namespace test
}  // namespace opos
