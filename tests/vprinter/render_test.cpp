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

Bytes line(const std::string& s) {
  return text(s + "\n");
}

}  // namespace

TEST(RenderText, LineDarkensItsBandAndJustificationMovesIt) {
  const ReceiptImage left = render_one(line("HELLO"));
  ASSERT_EQ(left.width, 576);
  const Box l = dark_box(left);
  EXPECT_EQ(l.y0, kTop);
  EXPECT_LT(l.y1, kTop + 24);
  EXPECT_EQ(l.x0, kLeft);

  const Box c = dark_box(render_one(cat({hex("1B 61 01"), line("HELLO")})));
  EXPECT_NEAR(c.centre_x(), (kLeft + kRight) / 2, 3);
  EXPECT_EQ(c.width(), l.width());

  const Box r = dark_box(render_one(cat({hex("1B 61 32"), line("HELLO")})));
  EXPECT_NEAR(r.x1, kRight, 2);
  EXPECT_EQ(r.y0, l.y0);
}

TEST(RenderText, EmphasisSizeAndFontChangeTheDots) {
  const ReceiptImage normal = render_one(line("ABC"));
  const ReceiptImage bold = render_one(cat({hex("1B 45 01"), line("ABC")}));
  EXPECT_GT(dark_count(bold), dark_count(normal) + dark_count(normal) / 4);
  EXPECT_EQ(dark_box(bold).width(), dark_box(normal).width() + 1);

  const Box n = dark_box(normal);
  const Box wide = dark_box(render_one(cat({hex("1D 21 10"), line("ABC")})));
  EXPECT_EQ(wide.width(), 2 * n.width());
  EXPECT_EQ(wide.height(), n.height());
  const Box tall = dark_box(render_one(cat({hex("1D 21 01"), line("ABC")})));
  EXPECT_EQ(tall.height(), 2 * n.height());
  EXPECT_EQ(tall.width(), n.width());
  EXPECT_EQ(dark_box(render_one(cat({hex("1B 21 20"), line("ABC")}))).width(), 2 * n.width()) << "ESC ! wide";
  EXPECT_LT(dark_box(render_one(cat({hex("1B 4D 01"), line("ABC")}))).height(), n.height()) << "font B";
}

TEST(RenderText, UnderlineReverseAndUpsideDown) {
  const ReceiptImage under = render_one(cat({hex("1B 2D 01"), line("ab")}));
  const int bottom = kTop + 23;
  for (int x = kLeft; x < kLeft + 24; ++x) EXPECT_TRUE(under.dark(x, bottom)) << x;
  EXPECT_FALSE(under.dark(kLeft + 5, bottom - 1)) << "single underline is one dot";
  const ReceiptImage twice = render_one(cat({hex("1B 2D 02"), line("ab")}));
  EXPECT_TRUE(twice.dark(kLeft + 5, bottom - 1));

  const ReceiptImage reversed = render_one(cat({hex("1D 42 01"), line(" ")}));
  EXPECT_EQ(dark_count(reversed), 12u * 24u) << "a reversed space is a black cell";

  // "T": its bar is the top row upright; upside down the line turns about the print
  // area, so the character lands at the right edge with the bar at the bottom.
  const ReceiptImage upright = render_one(line("T"));
  const ReceiptImage turned = render_one(cat({hex("1B 7B 01"), line("T")}));
  const Box u = dark_box(upright), t = dark_box(turned);
  EXPECT_TRUE(upright.dark(u.x0, u.y0) && upright.dark(u.x1, u.y0));
  EXPECT_EQ(t.x1, kRight);
  EXPECT_TRUE(turned.dark(t.x0, t.y1) && turned.dark(t.x1, t.y1));
  EXPECT_FALSE(turned.dark(t.x0, t.y0));
}

TEST(RenderText, LineSpacingWrapAndMargin) {
  auto second_line_top = [](const ReceiptImage& img) {
    const std::vector<int> rows = dark_rows(img);
    for (size_t i = 1; i < rows.size(); ++i) {
      if (rows[i] > rows[i - 1] + 1) return rows[i];
    }
    return -1;
  };
  // ESC 3 counts half dots; a spacing below the line's height feeds the height.
  EXPECT_EQ(second_line_top(render_one(cat({line("A"), line("A")}))), kTop + 30);
  EXPECT_EQ(second_line_top(render_one(cat({hex("1B 33 78"), line("A"), line("A")}))), kTop + 60);
  EXPECT_EQ(second_line_top(render_one(cat({hex("1B 33 0A"), line("A"), line("A")}))), kTop + 24);
  EXPECT_EQ(second_line_top(render_one(cat({hex("1B 33 78 1B 32"), line("A"), line("A")}))), kTop + 30);

  // 42 columns of font A fit the print area; the 43rd starts a new line.
  const ReceiptImage wrapped = render_one(line(std::string(43, 'H')));
  EXPECT_EQ(second_line_top(wrapped), kTop + 30);
  EXPECT_EQ(dark_box(wrapped, kTop + 30).width(), dark_box(render_one(line("H"))).width());
  EXPECT_LE(dark_box(wrapped, 0, kTop + 24).x1, kRight);

  EXPECT_EQ(dark_box(render_one(cat({hex("1D 4C 28 00"), line("H")}))).x0, kLeft + 40);
  const Box narrow = dark_box(render_one(cat({hex("1D 57 30 00 1B 61 02"), line("H")})));
  EXPECT_NEAR(narrow.x1, kLeft + 48, 3) << "GS W 48 ends the area 48 dots in";
}

TEST(RenderText, UnknownBytesAndResets) {
  EXPECT_GT(dark_count(render_one(cat({hex("B0 DB"), line("")}))), 0u) << "bytes without a shape show a box";
  // ESC @ drops the line not yet printed; modes go back to their defaults.
  const ReceiptImage reset = render_one(cat({hex("1D 21 11"), text("lost"), hex("1B 40"), line("kept")}));
  EXPECT_EQ(reset.dots, render_one(line("kept")).dots);
  // An unknown command is skipped, the text around it prints.
  EXPECT_EQ(render_one(cat({text("ab"), hex("1D 99"), line("cd")})).dots, render_one(line("abcd")).dots);
}

TEST(RenderText, UpperHalfReadsInTheSelectedCodeTable) {
  auto one = [](const char* table_and_byte) { return render_one(cat({hex(table_and_byte), line("")})); };
  const ReceiptImage e_acute = one("1B 74 02 90");  // 850: É
  const ReceiptImage er = one("1B 74 11 90");       // 866: Р
  const ReceiptImage box = one("1B 74 10 81");      // 1252 has no 0x81
  EXPECT_NE(e_acute.dots, er.dots);
  EXPECT_NE(e_acute.dots, box.dots);
  EXPECT_NE(er.dots, box.dots);
  EXPECT_EQ(one("1B 74 14 90").dots, box.dots) << "a Thai table has no mapping: the box";
  // The same character through another table draws the same dots.
  EXPECT_EQ(one("1B 74 10 C9").dots, e_acute.dots) << "1252: É";
  EXPECT_EQ(one("1B 74 33 D0").dots, er.dots) << "1251: Р";
}

TEST(RenderImages, RasterDownloadedAndBitImagesPutTheirDots) {
  // GS v 0: two rows of two bytes; leftmost dot in bit 7.
  const ReceiptImage raster = render_one(hex("1D 76 30 00 02 00 02 00 80 01 00 FF"));
  EXPECT_EQ(dark_count(raster), 10u);
  EXPECT_TRUE(raster.dark(kLeft, kTop) && raster.dark(kLeft + 15, kTop));
  for (int x = kLeft + 8; x < kLeft + 16; ++x) EXPECT_TRUE(raster.dark(x, kTop + 1));
  EXPECT_EQ(dark_count(render_one(hex("1D 76 30 03 02 00 02 00 80 01 00 FF"))), 40u) << "quadruple";
  const Box centred = dark_box(render_one(hex("1B 61 01 1D 76 30 00 02 00 02 00 80 01 00 FF")));
  EXPECT_EQ(centred.x0, kLeft + (512 - 16) / 2);

  // GS * one 8 x 8 block of columns (top dot in bit 7), printed by GS /.
  const Bytes define = hex("1D 2A 01 01 80 00 00 00 00 00 00 01");
  const ReceiptImage normal = render_one(cat({define, hex("1D 2F 00")}));
  EXPECT_EQ(dark_count(normal), 2u);
  EXPECT_TRUE(normal.dark(kLeft, kTop) && normal.dark(kLeft + 7, kTop + 7));
  EXPECT_EQ(dark_count(render_one(cat({define, hex("1D 2F 33")}))), 8u);
  EXPECT_EQ(dark_count(render_one(hex("1D 2F 00"))), 0u) << "nothing downloaded: nothing printed";

  // ESC * 33: 24-dot columns of three bytes, part of the line; the line feed follows.
  const ReceiptImage bits = render_one(cat({hex("1B 2A 21 02 00 80 00 00 00 00 01 0A"), line("A")}));
  EXPECT_TRUE(bits.dark(kLeft, kTop) && bits.dark(kLeft + 1, kTop + 23));
  EXPECT_EQ(dark_box(bits, kTop + 24).y0, kTop + 30);
}

TEST(RenderImages, StoredLogoIsALabelledBox) {
  const Box logo = dark_box(render_one(hex("1B 61 01 1C 70 01 30")));
  EXPECT_EQ(logo.width(), 256);
  EXPECT_EQ(logo.height(), 80);
  EXPECT_EQ(logo.x0, kLeft + 128);
  EXPECT_EQ(dark_box(render_one(hex("1C 70 01 33"))).width(), 512) << "double width";
}

TEST(RenderBarcode, BarsHaveTheSetHeightAndModuleWidth) {
  const Bytes code39 = cat({hex("1D 6B 45 05"), text("12345")});
  const ReceiptImage img = render_one(cat({hex("1D 68 50 1D 77 02 1D 48 00"), code39}));
  const Box bars = dark_box(img);
  EXPECT_EQ(bars.height(), 80);
  EXPECT_EQ(bars.y0, kTop);
  int edges = 0;
  for (int x = bars.x0; x < bars.x1; ++x) edges += img.dark(x, kTop + 40) != img.dark(x + 1, kTop + 40);
  EXPECT_GT(edges, 40) << "a row through the band crosses many bars";
  for (int y = bars.y0; y <= bars.y1; ++y)
    EXPECT_TRUE(img.dark(bars.x0, y)) << "the first bar runs the full height";

  const Box wider = dark_box(render_one(cat({hex("1D 68 50 1D 77 03 1D 48 00"), code39})));
  EXPECT_EQ(wider.width() * 2, bars.width() * 3) << "3-dot modules against 2-dot ones";

  const ReceiptImage with_text = render_one(cat({hex("1D 68 50 1D 77 02 1D 48 02"), code39}));
  EXPECT_GT(dark_box(with_text).height(), 80 + 15);
  EXPECT_EQ(dark_box(with_text, 0, kTop + 80).width(), bars.width());
  EXPECT_EQ(dark_box(with_text, kTop + 80).y0, kTop + 80 + 2) << "text just below the bars";

  // Code128 with its code-set prefix; the barcode then moves the next line down.
  const ReceiptImage c128 = render_one(cat({hex("1D 68 40 1D 6B 49 05"), text("{B123"), line("X")}));
  EXPECT_EQ(dark_box(c128, kTop, kTop + 64).height(), 64);
  EXPECT_EQ(dark_box(c128, kTop + 64).y0, kTop + 64);
}

TEST(RenderBarcode, PrinterDataConventionsAndRefusals) {
  // Data the printer refuses shows one line of note instead of bars.
  EXPECT_LT(dark_box(render_one(cat({hex("1D 68 50 1D 6B 43 03"), text("ABC")}))).height(), 24)
      << "EAN-13 letters";
  EXPECT_LT(dark_box(render_one(cat({hex("1D 68 50 1D 6B 46 03"), text("123")}))).height(), 24)
      << "ITF of odd length";

  // The four zero-suppression rules, the long form with check digit, and a refusal.
  EXPECT_EQ(upce_from_upca("01234500006"), "0123456");
  EXPECT_EQ(upce_from_upca("012345000065"), "0123456");
  EXPECT_EQ(upce_from_upca("01220000345"), "0123452");
  EXPECT_EQ(upce_from_upca("01230000045"), "0123453");
  EXPECT_EQ(upce_from_upca("01234000005"), "0123454");
  EXPECT_EQ(upce_from_upca("01234567890"), std::nullopt);
  EXPECT_EQ(upce_from_upca("21234500006"), std::nullopt) << "number system 2";
  EXPECT_EQ(encode_barcode(66, text("01234500006")).modules.size(), 51u);

  EXPECT_EQ(code128_text(text("{BAb")), "Ab");
  EXPECT_EQ(code128_text(cat({text("{C"), hex("0C 22 00")})), "123400");
  EXPECT_EQ(code128_text(text("{A{{x{1")), "{x");
  EXPECT_EQ(code128_text(text("Ab")), std::nullopt) << "no code set";
  EXPECT_EQ(code128_text(cat({text("{C"), hex("64")})), std::nullopt) << "100 is no digit pair";

  const BarcodeBars upca = encode_barcode(65, text("01234567890"));
  ASSERT_EQ(upca.modules.size(), 95u);
  EXPECT_EQ(std::vector<uint8_t>(upca.modules.begin(), upca.modules.begin() + 3),
            (std::vector<uint8_t>{1, 0, 1}));
  EXPECT_EQ(upca.text, "012345678905") << "check digit worked out";
  EXPECT_FALSE(encode_barcode(74, text("1")).error.empty());
}

TEST(RenderReceipts, CutsSplitReceiptsAndFeedsAddPaper) {
  const std::vector<ReceiptImage> three =
      render(cat({line("One"), hex("1B 6D"), line("Two"), hex("1D 56 00"), text("Three")}));
  ASSERT_EQ(three.size(), 3u);
  EXPECT_TRUE(three[0].cut && three[1].cut);
  EXPECT_FALSE(three[2].cut) << "the paper still in the printer";
  for (const ReceiptImage& r : three) EXPECT_EQ(dark_box(r).y0, kTop);
  EXPECT_NE(three[0].dots, three[1].dots);
  EXPECT_EQ(three[0].height, three[1].height);

  const int plain = render(cat({line("x"), hex("1D 56 00")}))[0].height;
  EXPECT_EQ(render(cat({line("x"), hex("1D 56 42 28")}))[0].height, plain + 20)
      << "GS V 66 feeds 40 half dots";
  EXPECT_EQ(render(cat({line("x"), hex("1B 64 03 1B 69")}))[0].height, plain + 90) << "ESC d 3";
  EXPECT_EQ(render(hex("1B 69 1B 69")).size(), 2u) << "every cut cuts, blank or not";
  EXPECT_TRUE(render(hex("0A 0A 1B 4A 40")).empty()) << "blank paper without a cut is no receipt";
}

TEST(RenderReceipts, HeightLimitCutsOffAndSaysSo) {
  Bytes many;
  for (int i = 0; i < 50; ++i) many = cat({many, line("LINE")});
  const std::vector<ReceiptImage> out = render(cat({many, hex("1B 6D"), line("next")}), 300);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out[0].cut_off);
  EXPECT_EQ(out[0].height, 300);
  int black = 0;
  for (int x = 0; x < out[0].width; ++x) black += out[0].dark(x, 299 - 2);
  EXPECT_GT(black, out[0].width / 2) << "a black band with the notice at the foot";
  EXPECT_FALSE(out[1].cut_off) << "the next receipt starts afresh";

  // An image far taller than the limit is drawn up to it, never allocated whole.
  const ReceiptImage tall = render_one(cat({hex("1D 76 30 00 01 00 FF FF"), repeat(0xFF, 65535)}));
  EXPECT_TRUE(tall.cut_off);
  EXPECT_EQ(tall.height, ReceiptRenderer::kDefaultMaxHeight);
}

TEST(RenderReceipts, PageModeTurnsThePageToThePrintDirection) {
  // Left 90: text runs upward from the bottom left of a 512 x 200 area.
  const Bytes area = hex("1B 57 00 00 00 00 00 02 C8 00");
  const ReceiptImage left =
      render_one(cat({hex("1B 4C 1B 54 31"), line("ABCDEF"), area, hex("1B 0C 1B 53"), line("after")}));
  const Box page = dark_box(left, 0, kTop + 200);
  EXPECT_GT(page.height(), 3 * page.width());
  EXPECT_EQ(page.x0, kLeft);
  EXPECT_GT(page.y1, kTop + 200 - 12) << "first character at the bottom";
  EXPECT_EQ(dark_box(left, kTop + 200).y0, kTop + 200) << "the page takes the area's height";

  const Box right = dark_box(render_one(cat({hex("1B 4C 1B 54 33"), line("ABCDEF"), area, hex("0C")})));
  EXPECT_EQ(right.y0, kTop);
  EXPECT_GT(right.x1, kRight - 12) << "right 90 starts at the top right";

  EXPECT_TRUE(render(cat({hex("1B 4C"), line("dropped"), hex("1B 53")})).empty())
      << "ESC S discards the page";
  EXPECT_EQ(render_one(cat({hex("1B 4C"), line("x"), hex("18"), line("kept"), hex("0C")})).dots,
            render_one(line("kept")).dots)
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
    for (const ReceiptImage& img : render(junk, 4000)) {
      EXPECT_EQ(img.width, 576);
      EXPECT_LE(img.height, 4000);
      EXPECT_EQ(img.dots.size(), static_cast<size_t>(img.width) * static_cast<size_t>(img.height));
    }
  }
}

TEST(RenderPng, RoundTripKeepsEveryDot) {
  const ReceiptImage img = render_one(cat({hex("1B 45 01"), line("PNG check 0123")}));
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(encode_png(img, &png, &error)) << error;
  const std::optional<Decoded> back = decode_png(png);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->width, img.width);
  ASSERT_EQ(back->height, img.height);
  size_t differ = 0;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) differ += back->dark(x, y) != img.dark(x, y);
  }
  EXPECT_EQ(differ, 0u);

  EXPECT_FALSE(encode_png(ReceiptImage{}, &png, &error));
  EXPECT_FALSE(write_png_file(img, "/nonexistent-folder/receipt-0001.png", &error));
  EXPECT_NE(error.find("/nonexistent-folder/receipt-0001.png"), std::string::npos) << error;
}
