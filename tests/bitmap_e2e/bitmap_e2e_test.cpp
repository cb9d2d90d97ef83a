// Bitmaps end to end: BMP files written here, printed and stored through the
// serial library and the Control Object, compared byte for byte at the
// virtual printer.
#include <gtest/gtest.h>

#include "tests/bitmap/bmp_writer.h"
#include "tests/receipt/receipt_env.h"

namespace opos::receipt {
namespace {

using test::BmpLayout;
using test::MakeBmp;

const std::string kPrintQuadCentred = "\x1b\x61\x31\x1d\x2f\x33\x1b\x61\x30";
const std::string kPrintNormalRight = "\x1b\x61\x32\x1d\x2f\x30\x1b\x61\x30";
const std::string kPrintNormalLeft = "\x1b\x61\x30\x1d\x2f\x30\x1b\x61\x30";

// The GS * block of an image printed as it is: columns of bytes, top dot in
// bit 7, written out independently of the library's own layout code.
std::string DefineBlock(const std::vector<std::string>& rows) {
  const size_t w = rows[0].size();
  const size_t h = rows.size();
  const size_t x = (w + 7) / 8;
  const size_t y = (h + 7) / 8;
  std::string block = {0x1d, 0x2a, static_cast<char>(x), static_cast<char>(y)};
  block.resize(4 + x * y * 8, '\0');
  for (size_t r = 0; r < h; ++r) {
    for (size_t c = 0; c < w; ++c) {
      if (rows[r][c] == '#')
        block[4 + c * y + r / 8] = static_cast<char>(block[4 + c * y + r / 8] | (0x80 >> (r % 8)));
    }
  }
  return block;
}

class BitmapEndToEnd : public ReceiptEnvironment {
 protected:
  void SetUp() override {
    ReceiptEnvironment::SetUp();
    OpenPrinter();
    Enable();
  }
  std::string Write(const std::string& name, const std::vector<std::string>& rows) {
    return files_.Write(name, MakeBmp(BmpLayout{rows}));
  }
  // What the serial library traced on standard error during the call.
  template <typename F>
  std::string Traced(F call) {
    ::testing::internal::CaptureStderr();
    call();
    return ::testing::internal::GetCapturedStderr();
  }

  test::TempDir files_;
};

const std::vector<std::string> kStripes =
    test::Pattern(100, 50, [](int x, int y) { return (x / 3 + y) % 4 == 0; });
const std::vector<std::string> kBox =
    test::Pattern(12, 10, [](int x, int y) { return x == 0 || y == 0 || x == 11 || y == 9; });

TEST_F(BitmapEndToEnd, PrintBitmapDefinesThenPrintsTheImage) {
  const std::string file = Write("stripes.bmp", kStripes);
  int32_t rc = -1;
  const std::string trace =
      Traced([&] { rc = printer.PrintBitmap(PTR_S_RECEIPT, file, PTR_BM_ASIS, PTR_BM_CENTER); });
  ASSERT_EQ(rc, OPOS_SUCCESS);
  EXPECT_EQ(trace, "CPOSPrinter::PrintBitmap()... \r\n");
  const std::string block = DefineBlock(kStripes);
  ASSERT_EQ(block.substr(0, 4), "\x1d\x2a\x0d\x07");
  const std::string expected = block + kPrintQuadCentred;
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
  EXPECT_EQ(printer.ResultCodeExtended(), 0);

  // Width 200 in dots: 198 × 50 dots, printed in normal size.
  vprinter_->ClearCapture();
  const std::string wide = Write("wide.bmp", test::Pattern(400, 100, [](int x, int) { return x % 2 == 0; }));
  ASSERT_EQ(printer.PrintBitmap(PTR_S_RECEIPT, wide, 200, PTR_BM_LEFT), OPOS_SUCCESS);
  const std::string out = CapturedAtLeast(4 + 25 * 7 * 8 + 9);
  EXPECT_EQ(out.substr(0, 4), "\x1d\x2a\x19\x07");
  EXPECT_EQ(out.substr(out.size() - 9), kPrintNormalLeft);
}

TEST_F(BitmapEndToEnd, StoredBitmapPrintsThroughItsEscape) {
  printer.SetPropertyNumber(PIDXPtr_RecLetterQuality, 1);
  const std::string box = Write("box.bmp", kBox);
  int32_t rc = -1;
  const std::string trace =
      Traced([&] { rc = printer.SetBitmap(1, PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_RIGHT); });
  ASSERT_EQ(rc, OPOS_SUCCESS);
  EXPECT_EQ(trace, "CPOSPrinter::SetBitmap()... \r\n");
  const std::string block = DefineBlock(kBox);
  EXPECT_EQ(CapturedAtLeast(block.size()), block) << "downloaded by SetBitmap";

  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|1B"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 9), kPrefix + kPrintNormalRight) << "already in the printer";

  // PrintBitmap replaces the printer's image: the next ESC|1B downloads the
  // slot again, the one after that does not. ESC|2B beside ESC|1B stays.
  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintBitmap(PTR_S_RECEIPT, Write("s.bmp", kStripes), PTR_BM_ASIS, PTR_BM_CENTER),
            OPOS_SUCCESS);
  CapturedAtLeast(DefineBlock(kStripes).size() + kPrintQuadCentred.size());
  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|1B\x1b|2B"), OPOS_SUCCESS);
  std::string expected = block + kPrefix + kPrintNormalRight + "\x1b|2B";
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);
  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "a\x1b|1B"), OPOS_SUCCESS);
  expected = kPrefix + "a" + kPrintNormalRight;
  EXPECT_EQ(CapturedAtLeast(expected.size()), expected);

  // Slot 2 was never set: its escape is dropped.
  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "a\x1b|2Bb"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 2), kPrefix + "ab");
}

TEST_F(BitmapEndToEnd, AsynchronousPrintBitmapIsOneJobAndSetBitmapWritesAtOnce) {
  printer.SetAsyncMode(true);
  const std::string box = Write("box.bmp", kBox);
  const int32_t before = printer.OutputID();
  ASSERT_EQ(printer.SetBitmap(1, PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  const std::string block = DefineBlock(kBox);
  EXPECT_EQ(CapturedAtLeast(block.size()), block);
  EXPECT_EQ(printer.OutputID(), before) << "SetBitmap queues nothing";

  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintBitmap(PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  EXPECT_EQ(printer.OutputID(), before + 1);
  ASSERT_TRUE(DeliverUntil(Saw("complete", before + 1)));
  EXPECT_EQ(Captured(), block + kPrintQuadCentred);
  EXPECT_EQ(Values("complete"), std::vector<int32_t>{before + 1});
}

TEST_F(BitmapEndToEnd, BadFilesAndArgumentsSendNothing) {
  const std::vector<uint8_t> good = MakeBmp(BmpLayout{kBox});
  std::vector<uint8_t> truncated(good.begin(), good.end() - 5);
  BmpLayout deepSpec{kBox};
  deepSpec.bitsPerPixel = 24;
  std::vector<uint8_t> lying = good;
  test::Put32(lying, test::kBiHeight, 100000);  // rows far beyond the pixel block
  const std::string big = Write("big.bmp", test::Pattern(400, 400, [](int, int) { return true; }));

  struct Case {
    const char* what;
    std::string file;
    int32_t width;
    int32_t result, extended;
  };
  const Case cases[] = {
      {"truncated", files_.Write("cut.bmp", truncated), PTR_BM_ASIS, OPOS_E_ILLEGAL, 0},
      {"24 bits", files_.Write("deep.bmp", MakeBmp(deepSpec)), PTR_BM_ASIS, OPOS_E_EXTENDED,
       OPOS_EPTR_BADFORMAT},
      {"height past the data", files_.Write("lying.bmp", lying), PTR_BM_ASIS, OPOS_E_EXTENDED,
       OPOS_EPTR_BADFORMAT},
      {"too big", big, PTR_BM_ASIS, OPOS_E_EXTENDED, OPOS_EPTR_TOOBIG},
  };
  std::string trace = Traced([&] {
    for (const Case& c : cases) {
      EXPECT_EQ(printer.PrintBitmap(PTR_S_RECEIPT, c.file, c.width, PTR_BM_CENTER), c.result) << c.what;
      EXPECT_EQ(printer.ResultCode(), c.result) << c.what;
      EXPECT_EQ(printer.ResultCodeExtended(), c.extended) << c.what;
      EXPECT_EQ(printer.SetBitmap(1, PTR_S_RECEIPT, c.file, c.width, PTR_BM_CENTER), c.result) << c.what;
      EXPECT_EQ(printer.ResultCodeExtended(), c.extended) << c.what;
    }
  });
  const std::string box = Write("box.bmp", kBox);
  trace += Traced([&] {
    EXPECT_EQ(printer.SetBitmap(3, PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL);
    EXPECT_EQ(printer.PrintBitmap(PTR_S_JOURNAL, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL);
    EXPECT_EQ(printer.SetBitmap(1, PTR_S_SLIP, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_ILLEGAL);
  });
  EXPECT_EQ(trace, "") << "nothing was converted";

  // The next print is the first thing the printer sees; no slot was set.
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "x\x1b|1B"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 1), kPrefix + "x");

  printer.SetDeviceEnabled(false);
  EXPECT_EQ(printer.PrintBitmap(PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_DISABLED);
  EXPECT_EQ(printer.SetBitmap(1, PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_E_DISABLED);
}

TEST_F(BitmapEndToEnd, ANewClaimStartsWithEmptySlots) {
  const std::string box = Write("box.bmp", kBox);
  ASSERT_EQ(printer.SetBitmap(1, PTR_S_RECEIPT, box, PTR_BM_ASIS, PTR_BM_CENTER), OPOS_SUCCESS);
  const size_t downloaded = CapturedAtLeast(DefineBlock(kBox).size()).size();
  ASSERT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
  ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
  // The claim's status request.
  EXPECT_EQ(CapturedAtLeast(downloaded + 3).substr(downloaded), kStatusRequest);
  Enable();
  vprinter_->ClearCapture();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "\x1b|1Bz"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 1), kPrefix + "z");
}

}  // namespace
}  // namespace opos::receipt
