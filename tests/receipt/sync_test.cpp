// Synchronous printing and the property setters, byte for byte at the
// virtual printer.
#include <chrono>
#include <thread>

#include "tests/receipt/receipt_env.h"

namespace opos::receipt {
namespace {

class SyncReceipt : public ReceiptEnvironment {
 protected:
  void SetUp() override {
    ReceiptEnvironment::SetUp();
    OpenPrinter();
    Enable();
  }
};

TEST_F(SyncReceipt, DefaultsThenCharacterSetUnitsAndCut) {
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 3), kPrefix + "abc");
  vprinter_->ClearCapture();

  printer.SetPropertyNumber(PIDXPtr_CharacterSet, 1252);
  ASSERT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(3), "\x1b\x74\x10");
  vprinter_->ClearCapture();

  printer.SetMapMode(PTR_MM_METRIC);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLineSpacing), 375);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLineWidth), 7224);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLineHeight), 338);
  printer.SetMapMode(PTR_MM_TWIPS);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLineSpacing), 213);
  printer.SetMapMode(PTR_MM_DOTS);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLineSpacing), 30);
  printer.SetPropertyNumber(PIDXPtr_RecLineSpacing, 24);
  EXPECT_EQ(printer.GetPropertyNumber(PIDXPtr_RecLinesToPaperCut), 6);
  printer.SetRecLineChars(43);
  EXPECT_EQ(printer.RecLineChars(), 56);
  // 24 dots give ESC 3 48, 56 columns ESC ! 0x47, ESC|fP six feeds and the cut.
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "x\x1b|fP"), OPOS_SUCCESS);
  ASSERT_EQ(printer.CutPaper(50), OPOS_SUCCESS);
  const std::string expected = "\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x47\x1d\x42\x30\x1b\x61\x30\x1b\x33\x30x" +
                               std::string(6, '\n') + "\x1b\x6d\x1b\x6d";
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
}

TEST_F(SyncReceipt, RotationAndLogos) {
  ASSERT_EQ(printer.RotatePrint(PTR_S_RECEIPT, PTR_RP_LEFT90), OPOS_SUCCESS);
  // Held back until its line ends; no ESC 3 while rotated.
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, std::string(30, 'x')), OPOS_SUCCESS);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\n" + std::string(45, 'y') + "\n"), OPOS_SUCCESS);
  ASSERT_EQ(printer.RotatePrint(PTR_S_RECEIPT, PTR_RP_NORMAL), OPOS_SUCCESS);
  const std::string noSpacing = kPrefix.substr(0, kPrefix.size() - 3);
  const std::string expected = "\x1b\x4c\x1b\x54\x31" + noSpacing + std::string(30, 'x') + noSpacing + "\n" +
                               std::string(45, 'y') + "\n" +
                               std::string("\x1b\x57\x00\x00\x00\x00\x00\x02\x38\x04\x1b\x0c\x1b\x53", 14);
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
  EXPECT_EQ(printer.RotatePrint(PTR_S_JOURNAL, PTR_RP_LEFT90), OPOS_E_ILLEGAL);

  vprinter_->ClearCapture();
  ASSERT_EQ(printer.SetLogo(PTR_L_TOP, "\x1b|cASHOP"), OPOS_SUCCESS);
  EXPECT_EQ(printer.SetLogo(3, "x"), OPOS_E_ILLEGAL);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|tL"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 7), kPrefix + "\x1b\x61\x31SHOP");
}

TEST_F(SyncReceipt, MethodsCheckTheirArgumentsClaimAndEnable) {
  EXPECT_EQ(printer.PrintBarCode(PTR_S_RECEIPT, "123", 999, 80, 300, PTR_BC_CENTER, PTR_BC_TEXT_BELOW),
            OPOS_E_ILLEGAL);
  ASSERT_EQ(printer.PrintBarCode(PTR_S_RECEIPT, "4901234567894", PTR_BCS_EAN13, 80, 300, PTR_BC_CENTER,
                                 PTR_BC_TEXT_BELOW),
            OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(19 + 13).substr(19), "4901234567894");  // the block's head, then the data
  vprinter_->ClearCapture();
  printer.SetDeviceEnabled(false);
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_DISABLED);
  EXPECT_EQ(printer.CutPaper(100), OPOS_E_DISABLED);
  EXPECT_EQ(printer.BeginInsertion(1000), OPOS_E_ILLEGAL);  // no slip station
  EXPECT_EQ(printer.PrintTwoNormal(PTR_S_RECEIPT, "a", "b"), OPOS_E_ILLEGAL);
  ASSERT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
  // These two answer 103 without storing it.
  EXPECT_EQ(printer.SetLogo(PTR_L_TOP, "x"), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer.ValidateData(PTR_S_RECEIPT, "x"), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer.ClearOutput(), OPOS_E_NOTCLAIMED);
  printer.SetRecLineChars(56);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(printer.RecLineChars(), 42);
  EXPECT_EQ(Printed(), "");
}

TEST_F(SyncReceipt, HealthChecksAndDirectIO) {
  ASSERT_EQ(printer.CheckHealth(OPOS_CH_EXTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(printer.CheckHealthText(), "Last check was external.");
  const std::string test =
      "\x1b@\nInteractive HCheck!!\nOPOS ZAD\nService Object Version : 1.3.0\nDevice Name : Thermal\n";
  EXPECT_EQ(CapturedAtLeast(test.size()), test);
  vprinter_->ClearCapture();

  int32_t logo = 1;
  std::string justification = "PTR_BM_CENTER";
  ASSERT_EQ(printer.DirectIO(111, logo, justification), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(8), "\x1b\x61\x31\x1c\x70\x01\x30\n");
  justification = "-3";  // the other libraries' form: refused here
  EXPECT_EQ(printer.DirectIO(111, logo, justification), OPOS_E_ILLEGAL);
  vprinter_->ClearCapture();
  std::string raw = "\x1b|cA raw";
  ASSERT_EQ(printer.DirectIO(0, logo, raw), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(raw.size()), raw);

  vprinter_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil([this] { return printer.CoverOpen(); }));
  EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERNAL), OPOS_E_EXTENDED);
  EXPECT_EQ(printer.ResultCodeExtended(), OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(printer.CheckHealthText(), "Last check was internal.");
  EXPECT_EQ(printer.CheckHealth(7), OPOS_E_ILLEGAL);
}

TEST_F(SyncReceipt, CoverOpenRefusesAndWritesNothing) {
  vprinter_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil(Saw("status", PTR_SUE_COVER_OPEN)));
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_EXTENDED);
  EXPECT_EQ(printer.ResultCodeExtended(), OPOS_EPTR_COVER_OPEN);
  vprinter_->SetPaperEnd(true);
  vprinter_->SetCoverOpen(false);
  ASSERT_TRUE(DeliverUntil(Saw("status", PTR_SUE_REC_EMPTY)));
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_EXTENDED);
  EXPECT_EQ(printer.ResultCodeExtended(), OPOS_EPTR_REC_EMPTY);
  EXPECT_TRUE(printer.RecEmpty());
  // Nothing but the port's own status requests reached the printer.
  DeliverUntil([] { return false; }, 300);
  EXPECT_EQ(Printed(), "");
}

TEST_F(SyncReceipt, EscapesThatMeanNothingArePrintedAsText) {
  // Unknown, truncated and oversized sequences: text, never an error.
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|xZ|\x1b|99"), OPOS_SUCCESS);
  const std::string expected = kPrefix + "\x1b|xZ|\x1b|99";
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
  vprinter_->ClearCapture();
  // A feed of two billion lines is refused, not attempted.
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|2000000000lF"), OPOS_E_ILLEGAL);
  EXPECT_FALSE(vprinter_->WaitForBytes(1, std::chrono::milliseconds(200)));
}

TEST_F(SyncReceipt, LongDataIsTranslatedAndSentWhole) {
  // Far beyond any fixed buffer, with escapes that shrink and grow.
  std::string text, expected = kPrefix;
  for (int i = 0; text.size() < 100000; ++i) {
    text += "line " + std::to_string(i) + " \x1b|bC bold\x1b|N\n";
    expected += "line " + std::to_string(i) + " \x1b\x45\x31 bold" +
                "\x1d\x42\x80\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x40\n";
  }
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, text), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
}

TEST_F(SyncReceipt, APrinterThatVanishedIsAFailureNotAHang) {
  vprinter_->Stop();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, std::string(20000, 'x')), OPOS_E_FAILURE);
  EXPECT_EQ(printer.ResultCodeExtended(), 100003);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace opos::receipt
