// Receipt images from printer commands: where text, images and barcodes land, how the
// print modes change their dots, how cuts, page mode and the height limit shape them.
#include <gtest/gtest.h>

#include "tests/vprinter/render_util.h"
#include "tools/vprinter/receipt_barcode.h"

using namespace vprinter;
using namespace vprinter_test;

namespace {

// Paper geometry the images are drawn with.
constexpr int kTop = 8;      // first line's top
constexpr int kLeft = 32;    // print area's left edge
constexpr int kRight = 543;  // print area's last dot

Bytes Line(const std::string& s) {
  return Text(s + "\n");
}

}  // namespace

TEST(RenderText, LineDarkensItsBandAndJustificationMovesIt) {
  const ReceiptImage left = RenderOne(Line("HELLO"));
  ASSERT_EQ(left.width, 576);
  const Box l = DarkBox(left);
  EXPECT_EQ(l.y0, kTop);
  EXPECT_LT(l.y1, kTop + 24);
  EXPECT_EQ(l.x0, kLeft);

  const Box c = DarkBox(RenderOne(Cat({Hex("1B 61 01"), Line("HELLO")})));
  EXPECT_NEAR(c.CentreX(), (kLeft + kRight) / 2, 3);
  EXPECT_EQ(c.Width(), l.Width());

  const Box r = DarkBox(RenderOne(Cat({Hex("1B 61 32"), Line("HELLO")})));
  EXPECT_NEAR(r.x1, kRight, 2);
  EXPECT_EQ(r.y0, l.y0);
}

TEST(RenderText, EmphasisSizeAndFontChangeTheDots) {
  const ReceiptImage normal = RenderOne(Line("ABC"));
  const ReceiptImage bold = RenderOne(Cat({Hex("1B 45 01"), Line("ABC")}));
  EXPECT_GT(DarkCount(bold), DarkCount(normal) + DarkCount(normal) / 4);
  EXPECT_EQ(DarkBox(bold).Width(), DarkBox(normal).Width() + 1);

  const Box n = DarkBox(normal);
  const Box wide = DarkBox(RenderOne(Cat({Hex("1D 21 10"), Line("ABC")})));
  EXPECT_EQ(wide.Width(), 2 * n.Width());
  EXPECT_EQ(wide.Height(), n.Height());
  const Box tall = DarkBox(RenderOne(Cat({Hex("1D 21 01"), Line("ABC")})));
  EXPECT_EQ(tall.Height(), 2 * n.Height());
  EXPECT_EQ(tall.Width(), n.Width());
  EXPECT_EQ(DarkBox(RenderOne(Cat({Hex("1B 21 20"), Line("ABC")}))).Width(), 2 * n.Width()) << "ESC ! wide";
  EXPECT_LT(DarkBox(RenderOne(Cat({Hex("1B 4D 01"), Line("ABC")}))).Height(), n.Height()) << "font B";
}

TEST(RenderText, UnderlineReverseAndUpsideDown) {
  const ReceiptImage under = RenderOne(Cat({Hex("1B 2D 01"), Line("ab")}));
  const int bottom = kTop + 23;
  for (int x = kLeft; x < kLeft + 24; ++x) EXPECT_TRUE(under.Dark(x, bottom)) << x;
  EXPECT_FALSE(under.Dark(kLeft + 5, bottom - 1)) << "single underline is one dot";
  const ReceiptImage twice = RenderOne(Cat({Hex("1B 2D 02"), Line("ab")}));
  EXPECT_TRUE(twice.Dark(kLeft + 5, bottom - 1));

  const ReceiptImage reversed = RenderOne(Cat({Hex("1D 42 01"), Line(" ")}));
  EXPECT_EQ(DarkCount(reversed), 12u * 24u) << "a reversed space is a black cell";

  // "T": its bar is the top row upright; upside down the line turns about the print
  // area, so the character lands at the right edge with the bar at the bottom.
  const ReceiptImage upright = RenderOne(Line("T"));
  const ReceiptImage turned = RenderOne(Cat({Hex("1B 7B 01"), Line("T")}));
  const Box u = DarkBox(upright), t = DarkBox(turned);
  EXPECT_TRUE(upright.Dark(u.x0, u.y0) && upright.Dark(u.x1, u.y0));
  EXPECT_EQ(t.x1, kRight);
  EXPECT_TRUE(turned.Dark(t.x0, t.y1) && turned.Dark(t.x1, t.y1));
  EXPECT_FALSE(turned.Dark(t.x0, t.y0));
}

TEST(RenderText, LineSpacingWrapAndMargin) {
  auto secondLineTop = [](const ReceiptImage& img) {
    const std::vector<int> rows = DarkRows(img);
    for (size_t i = 1; i < rows.size(); ++i) {
      if (rows[i] > rows[i - 1] + 1) return rows[i];
    }
    return -1;
  };
  // ESC 3 counts half dots; a spacing below the line's height feeds the height.
  EXPECT_EQ(secondLineTop(RenderOne(Cat({Line("A"), Line("A")}))), kTop + 30);
  EXPECT_EQ(secondLineTop(RenderOne(Cat({Hex("1B 33 78"), Line("A"), Line("A")}))), kTop + 60);
  EXPECT_EQ(secondLineTop(RenderOne(Cat({Hex("1B 33 0A"), Line("A"), Line("A")}))), kTop + 24);
  EXPECT_EQ(secondLineTop(RenderOne(Cat({Hex("1B 33 78 1B 32"), Line("A"), Line("A")}))), kTop + 30);

  // 42 columns of font A fit the print area; the 43rd starts a new line.
  const ReceiptImage wrapped = RenderOne(Line(std::string(43, 'H')));
  EXPECT_EQ(secondLineTop(wrapped), kTop + 30);
  EXPECT_EQ(DarkBox(wrapped, kTop + 30).Width(), DarkBox(RenderOne(Line("H"))).Width());
  EXPECT_LE(DarkBox(wrapped, 0, kTop + 24).x1, kRight);

  EXPECT_EQ(DarkBox(RenderOne(Cat({Hex("1D 4C 28 00"), Line("H")}))).x0, kLeft + 40);
  const Box narrow = DarkBox(RenderOne(Cat({Hex("1D 57 30 00 1B 61 02"), Line("H")})));
  EXPECT_NEAR(narrow.x1, kLeft + 48, 3) << "GS W 48 ends the area 48 dots in";
}

TEST(RenderText, UnknownBytesAndResets) {
  EXPECT_GT(DarkCount(RenderOne(Cat({Hex("B0 DB"), Line("")}))), 0u) << "bytes without a shape show a box";
  // ESC @ drops the line not yet printed; modes go back to their defaults.
  const ReceiptImage reset = RenderOne(Cat({Hex("1D 21 11"), Text("lost"), Hex("1B 40"), Line("kept")}));
  EXPECT_EQ(reset.dots, RenderOne(Line("kept")).dots);
  // An unknown command is skipped, the text around it prints.
  EXPECT_EQ(RenderOne(Cat({Text("ab"), Hex("1D 99"), Line("cd")})).dots, RenderOne(Line("abcd")).dots);
}

TEST(RenderText, UpperHalfReadsInTheSelectedCodeTable) {
  auto one = [](const char* tableAndByte) { return RenderOne(Cat({Hex(tableAndByte), Line("")})); };
  const ReceiptImage eAcute = one("1B 74 02 90");  // 850: É
  const ReceiptImage er = one("1B 74 11 90");      // 866: Р
  const ReceiptImage box = one("1B 74 10 81");     // 1252 has no 0x81
  EXPECT_NE(eAcute.dots, er.dots);
  EXPECT_NE(eAcute.dots, box.dots);
  EXPECT_NE(er.dots, box.dots);
  EXPECT_EQ(one("1B 74 14 90").dots, box.dots) << "a Thai table has no mapping: the box";
  // The same character through another table draws the same dots.
  EXPECT_EQ(one("1B 74 10 C9").dots, eAcute.dots) << "1252: É";
  EXPECT_EQ(one("1B 74 33 D0").dots, er.dots) << "1251: Р";
}

TEST(RenderImages, RasterDownloadedAndBitImagesPutTheirDots) {
  // GS v 0: two rows of two bytes; leftmost dot in bit 7.
  const ReceiptImage raster = RenderOne(Hex("1D 76 30 00 02 00 02 00 80 01 00 FF"));
  EXPECT_EQ(DarkCount(raster), 10u);
  EXPECT_TRUE(raster.Dark(kLeft, kTop) && raster.Dark(kLeft + 15, kTop));
  for (int x = kLeft + 8; x < kLeft + 16; ++x) EXPECT_TRUE(raster.Dark(x, kTop + 1));
  EXPECT_EQ(DarkCount(RenderOne(Hex("1D 76 30 03 02 00 02 00 80 01 00 FF"))), 40u) << "quadruple";
  const Box centred = DarkBox(RenderOne(Hex("1B 61 01 1D 76 30 00 02 00 02 00 80 01 00 FF")));
  EXPECT_EQ(centred.x0, kLeft + (512 - 16) / 2);

  // GS * one 8 x 8 block of columns (top dot in bit 7), printed by GS /.
  const Bytes define = Hex("1D 2A 01 01 80 00 00 00 00 00 00 01");
  const ReceiptImage normal = RenderOne(Cat({define, Hex("1D 2F 00")}));
  EXPECT_EQ(DarkCount(normal), 2u);
  EXPECT_TRUE(normal.Dark(kLeft, kTop) && normal.Dark(kLeft + 7, kTop + 7));
  EXPECT_EQ(DarkCount(RenderOne(Cat({define, Hex("1D 2F 33")}))), 8u);
  EXPECT_EQ(DarkCount(RenderOne(Hex("1D 2F 00"))), 0u) << "nothing downloaded: nothing printed";

  // ESC * 33: 24-dot columns of three bytes, part of the line; the line feed follows.
  const ReceiptImage bits = RenderOne(Cat({Hex("1B 2A 21 02 00 80 00 00 00 00 01 0A"), Line("A")}));
  EXPECT_TRUE(bits.Dark(kLeft, kTop) && bits.Dark(kLeft + 1, kTop + 23));
  EXPECT_EQ(DarkBox(bits, kTop + 24).y0, kTop + 30);
}

TEST(RenderImages, StoredLogoIsALabelledBox) {
  const Box logo = DarkBox(RenderOne(Hex("1B 61 01 1C 70 01 30")));
  EXPECT_EQ(logo.Width(), 256);
  EXPECT_EQ(logo.Height(), 80);
  EXPECT_EQ(logo.x0, kLeft + 128);
  EXPECT_EQ(DarkBox(RenderOne(Hex("1C 70 01 33"))).Width(), 512) << "double width";
}

TEST(RenderBarcode, BarsHaveTheSetHeightAndModuleWidth) {
  const Bytes code39 = Cat({Hex("1D 6B 45 05"), Text("12345")});
  const ReceiptImage img = RenderOne(Cat({Hex("1D 68 50 1D 77 02 1D 48 00"), code39}));
  const Box bars = DarkBox(img);
  EXPECT_EQ(bars.Height(), 80);
  EXPECT_EQ(bars.y0, kTop);
  int edges = 0;
  for (int x = bars.x0; x < bars.x1; ++x) edges += img.Dark(x, kTop + 40) != img.Dark(x + 1, kTop + 40);
  EXPECT_GT(edges, 40) << "a row through the band crosses many bars";
  for (int y = bars.y0; y <= bars.y1; ++y)
    EXPECT_TRUE(img.Dark(bars.x0, y)) << "the first bar runs the full height";

  const Box wider = DarkBox(RenderOne(Cat({Hex("1D 68 50 1D 77 03 1D 48 00"), code39})));
  EXPECT_EQ(wider.Width() * 2, bars.Width() * 3) << "3-dot modules against 2-dot ones";

  const ReceiptImage withText = RenderOne(Cat({Hex("1D 68 50 1D 77 02 1D 48 02"), code39}));
  EXPECT_GT(DarkBox(withText).Height(), 80 + 15);
  EXPECT_EQ(DarkBox(withText, 0, kTop + 80).Width(), bars.Width());
  EXPECT_EQ(DarkBox(withText, kTop + 80).y0, kTop + 80 + 2) << "text just below the bars";

  // Code128 with its code-set prefix; the barcode then moves the next line down.
  const ReceiptImage c128 = RenderOne(Cat({Hex("1D 68 40 1D 6B 49 05"), Text("{B123"), Line("X")}));
  EXPECT_EQ(DarkBox(c128, kTop, kTop + 64).Height(), 64);
  EXPECT_EQ(DarkBox(c128, kTop + 64).y0, kTop + 64);
}

TEST(RenderBarcode, PrinterDataConventionsAndRefusals) {
  // Data the printer refuses shows one line of note instead of bars.
  EXPECT_LT(DarkBox(RenderOne(Cat({Hex("1D 68 50 1D 6B 43 03"), Text("ABC")}))).Height(), 24)
      << "EAN-13 letters";
  EXPECT_LT(DarkBox(RenderOne(Cat({Hex("1D 68 50 1D 6B 46 03"), Text("123")}))).Height(), 24)
      << "ITF of odd length";

  // The four zero-suppression rules, the long form with check digit, and a refusal.
  EXPECT_EQ(UpceFromUpca("01234500006"), "0123456");
  EXPECT_EQ(UpceFromUpca("012345000065"), "0123456");
  EXPECT_EQ(UpceFromUpca("01220000345"), "0123452");
  EXPECT_EQ(UpceFromUpca("01230000045"), "0123453");
  EXPECT_EQ(UpceFromUpca("01234000005"), "0123454");
  EXPECT_EQ(UpceFromUpca("01234567890"), std::nullopt);
  EXPECT_EQ(UpceFromUpca("21234500006"), std::nullopt) << "number system 2";
  EXPECT_EQ(EncodeBarcode(66, Text("01234500006")).modules.size(), 51u);

  EXPECT_EQ(Code128Text(Text("{BAb")), "Ab");
  EXPECT_EQ(Code128Text(Cat({Text("{C"), Hex("0C 22 00")})), "123400");
  EXPECT_EQ(Code128Text(Text("{A{{x{1")), "{x");
  EXPECT_EQ(Code128Text(Text("Ab")), std::nullopt) << "no code set";
  EXPECT_EQ(Code128Text(Cat({Text("{C"), Hex("64")})), std::nullopt) << "100 is no digit pair";

  const BarcodeBars upca = EncodeBarcode(65, Text("01234567890"));
  ASSERT_EQ(upca.modules.size(), 95u);
  EXPECT_EQ(std::vector<uint8_t>(upca.modules.begin(), upca.modules.begin() + 3),
            (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(upca.text, "012345678905") << "check digit worked out";
  EXPECT_FALSE(EncodeBarcode(74, Text("1")).error.empty());
}

TEST(RenderReceipts, CutsSplitReceiptsAndFeedsAddPaper) {
  const std::vector<ReceiptImage> three =
      Render(Cat({Line("One"), Hex("1B 6D"), Line("Two"), Hex("1D 56 00"), Text("Three")}));
  ASSERT_EQ(three.size(), 3u);
  EXPECT_TRUE(three[0].cut && three[1].cut);
  EXPECT_FALSE(three[2].cut) << "the paper still in the printer";
  for (const ReceiptImage& r : three) EXPECT_EQ(DarkBox(r).y0, kTop);
  EXPECT_NE(three[0].dots, three[1].dots);
  EXPECT_EQ(three[0].height, three[1].height);

  const int plain = Render(Cat({Line("x"), Hex("1D 56 00")}))[0].height;
  EXPECT_EQ(Render(Cat({Line("x"), Hex("1D 56 42 28")}))[0].height, plain + 20)
      << "GS V 66 feeds 40 half dots";
  EXPECT_EQ(Render(Cat({Line("x"), Hex("1B 64 03 1B 69")}))[0].height, plain + 90) << "ESC d 3";
  EXPECT_EQ(Render(Hex("1B 69 1B 69")).size(), 2u) << "every cut cuts, blank or not";
  EXPECT_TRUE(Render(Hex("0A 0A 1B 4A 40")).empty()) << "blank paper without a cut is no receipt";
}

TEST(RenderReceipts, HeightLimitCutsOffAndSaysSo) {
  Bytes many;
  for (int i = 0; i < 50; ++i) many = Cat({many, Line("LINE")});
  const std::vector<ReceiptImage> out = Render(Cat({many, Hex("1B 6D"), Line("next")}), 300);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].cutOff);
  EXPECT_EQ(out[0].height, 300);
  int black = 0;
  for (int x = 0; x < out[0].width; ++x) black += out[0].Dark(x, 299 - 2);
  EXPECT_GT(black, out[0].width / 2) << "a black band with the notice at the foot";
  EXPECT_FALSE(out[1].cutOff) << "the next receipt starts afresh";

  // An image far taller than the limit is drawn up to it, never allocated whole.
  const ReceiptImage tall = RenderOne(Cat({Hex("1D 76 30 00 01 00 FF FF"), Repeat(0xFF, 65535)}));
  EXPECT_TRUE(tall.cutOff);
  EXPECT_EQ(tall.height, ReceiptRenderer::kDefaultMaxHeight);
}

TEST(RenderReceipts, PageModeTurnsThePageToThePrintDirection) {
  // Left 90: text runs upward from the bottom left of a 512 x 200 area.
  const Bytes area = Hex("1B 57 00 00 00 00 00 02 C8 00");
  const ReceiptImage left =
      RenderOne(Cat({Hex("1B 4C 1B 54 31"), Line("ABCDEF"), area, Hex("1B 0C 1B 53"), Line("after")}));
  const Box page = DarkBox(left, 0, kTop + 200);
  EXPECT_GT(page.Height(), 3 * page.Width());
  EXPECT_EQ(page.x0, kLeft);
  EXPECT_GT(page.y1, kTop + 200 - 12) << "first character at the bottom";
  EXPECT_EQ(DarkBox(left, kTop + 200).y0, kTop + 200) << "the page takes the area's height";

  const Box right = DarkBox(RenderOne(Cat({Hex("1B 4C 1B 54 33"), Line("ABCDEF"), area, Hex("0C")})));
  EXPECT_EQ(right.y0, kTop);
  EXPECT_GT(right.x1, kRight - 12) << "right 90 starts at the top right";

  EXPECT_TRUE(Render(Cat({Hex("1B 4C"), Line("dropped"), Hex("1B 53")})).empty())
      << "ESC S discards the page";
  EXPECT_EQ(RenderOne(Cat({Hex("1B 4C"), Line("x"), Hex("18"), Line("kept"), Hex("0C")})).dots,
            RenderOne(Line("kept")).dots)
      << "CAN clears the page so far";
}

TEST(RenderReceipts, GarbageRendersWithinBounds) {
  uint32_t seed = 12345;
  for (int round = 0; round < 6; ++round) {
    Bytes junk(100000);
    for (uint8_t& b : junk) {
      seed = seed * 1103515245u + 12345u;
      // Lean on the command-introducing bytes so that many commands start.
      const uint8_t r = static_cast<uint8_t>(seed >> 16);
      b = (r & 0x07) == 0 ? static_cast<uint8_t>(0x1B + ((r >> 3) % 3)) : r;
    }
    for (const ReceiptImage& img : Render(junk, 4000)) {
      EXPECT_EQ(img.width, 576);
      EXPECT_LE(img.height, 4000);
      EXPECT_EQ(img.dots.size(), static_cast<size_t>(img.width) * static_cast<size_t>(img.height));
    }
  }
}

TEST(RenderPng, RoundTripKeepsEveryDot) {
  const ReceiptImage img = RenderOne(Cat({Hex("1B 45 01"), Line("PNG check 0123")}));
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(EncodePng(img, &png, &error)) << error;
  const std::optional<Decoded> back = DecodePng(png);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->width, img.width);
  ASSERT_EQ(back->height, img.height);
  size_t differ = 0;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) differ += back->Dark(x, y) != img.Dark(x, y);
  }
  EXPECT_EQ(differ, 0u);

  EXPECT_FALSE(EncodePng(ReceiptImage{}, &png, &error));
  EXPECT_FALSE(WritePngFile(img, "/nonexistent-folder/receipt-0001.png", &error));
  EXPECT_NE(error.find("/nonexistent-folder/receipt-0001.png"), std::string::npos) << error;
}
