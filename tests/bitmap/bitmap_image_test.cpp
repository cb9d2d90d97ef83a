// Target size, scaling and the GS * layout, checked dot by dot.
#include <gtest/gtest.h>

#include "printer/bitmap_image.h"
#include "tests/bitmap/bmp_writer.h"
#include "tests/printer/test_util.h"

namespace opos {
namespace {

using test::B;
using test::BmpLayout;
using test::Hex;
using test::MakeBmp;

BmpImage Decode(const std::vector<std::string>& rows) {
  BmpImage image;
  EXPECT_EQ(ParseBmp(MakeBmp(BmpLayout{rows}), &image), BmpStatus::Ok);
  return image;
}

// The dots of a GS * block read back as tw × th rows of '#' and '.'.
std::vector<std::string> BlockDots(const std::string& block, int tw, int th) {
  const int y = static_cast<uint8_t>(block[3]);
  std::vector<std::string> rows(static_cast<size_t>(th), std::string(static_cast<size_t>(tw), '.'));
  for (int c = 0; c < tw; ++c) {
    for (int r = 0; r < th; ++r) {
      const auto byte = static_cast<uint8_t>(block[4 + static_cast<size_t>(c * y + r / 8)]);
      if (byte & (0x80 >> (r % 8))) rows[static_cast<size_t>(r)][static_cast<size_t>(c)] = '#';
    }
  }
  return rows;
}

TEST(TargetSize, WidthInDotsDrawsBelow256NormalAndFromThereQuadruple) {
  const BitmapSettings dots;
  TargetSize t = ComputeTargetSize(200, 400, 100, dots);
  EXPECT_EQ(t.width, 198);
  EXPECT_EQ(t.height, 50) << "49.5 rounds up";
  EXPECT_TRUE(t.normalSize);
  t = ComputeTargetSize(400, 400, 100, dots);
  EXPECT_EQ(t.width, 199);
  EXPECT_EQ(t.height, 50);
  EXPECT_FALSE(t.normalSize);
  t = ComputeTargetSize(255, 100, 100, dots);
  EXPECT_TRUE(t.normalSize);
  EXPECT_EQ(t.width, 253);
  t = ComputeTargetSize(256, 100, 100, dots);
  EXPECT_FALSE(t.normalSize);
  EXPECT_EQ(t.width, 127);
}

TEST(TargetSize, OtherUnitsScaleTheWidthButCompareUnconverted) {
  BitmapSettings twips;
  twips.MapMode = PTR_MM_TWIPS;
  // (2000 / 2 - 1) × 0.14111 = 140.97 dots; 2000 ≥ 256, so quadruple.
  TargetSize t = ComputeTargetSize(2000, 400, 100, twips);
  EXPECT_EQ(t.width, 141);
  EXPECT_EQ(t.height, 35);
  EXPECT_FALSE(t.normalSize);

  BitmapSettings metric;
  metric.MapMode = PTR_MM_METRIC;
  // (200 / 2 - 1) × 0.08 = 7.92, doubled 15.84.
  t = ComputeTargetSize(200, 400, 100, metric);
  EXPECT_EQ(t.width, 16);
  EXPECT_EQ(t.height, 4);
  EXPECT_TRUE(t.normalSize);
}

TEST(TargetSize, WidthsThatLeaveNoImageGiveZero) {
  const BitmapSettings dots;
  for (const int32_t w : {-5, -1, 0, 1, 2}) EXPECT_EQ(ComputeTargetSize(w, 100, 100, dots).width, 0) << w;
  // A very wide, flat image scales to less than one row.
  EXPECT_EQ(ComputeTargetSize(10, 400, 1, dots).height, 0);
  const BmpImage image = Decode({"#"});
  EXPECT_EQ(BuildDownloadBlock(image, ComputeTargetSize(2, 1, 1, dots)).result, OPOS_E_ILLEGAL);
}

TEST(DownloadLayout, ColumnsLeftToRightBytesTopDownBit7Upper) {
  // 10 × 9 as is: x = 2, y = 2; dots at (0,0), (3,5) and (9,8).
  std::vector<std::string> rows(9, std::string(10, '.'));
  rows[0][0] = rows[5][3] = rows[8][9] = '#';
  const DownloadImage d = BuildDownloadBlock(Decode(rows), {10, 9, true});
  ASSERT_EQ(d.result, OPOS_SUCCESS);
  std::string expected = B({0x1D, 0x2A, 2, 2}) + std::string(32, '\0');
  expected[4 + 0] = '\x80';          // column 0, rows 0-7
  expected[4 + 3 * 2] = '\x04';      // column 3, row 5
  expected[4 + 9 * 2 + 1] = '\x80';  // column 9, rows 8-15
  EXPECT_EQ(Hex(d.block), Hex(expected));
}

TEST(DownloadLayout, PaddingColumnsAndRowsStayBlank) {
  const DownloadImage d =
      BuildDownloadBlock(Decode(std::vector<std::string>(9, std::string(10, '#'))), {10, 9, true});
  ASSERT_EQ(d.result, OPOS_SUCCESS);
  ASSERT_EQ(d.block.size(), 4u + 32);
  for (size_t c = 0; c < 16; ++c) {
    const bool inked = c < 10;
    EXPECT_EQ(static_cast<uint8_t>(d.block[4 + 2 * c]), inked ? 0xFF : 0x00) << c;
    EXPECT_EQ(static_cast<uint8_t>(d.block[5 + 2 * c]), inked ? 0x80 : 0x00) << c;
  }
}

TEST(Scaling, EnlargingRepeatsPixels) {
  const BmpImage image = Decode({"#.", ".#"});
  const DownloadImage d = BuildDownloadBlock(image, {4, 6, true});
  ASSERT_EQ(d.result, OPOS_SUCCESS);
  EXPECT_EQ(BlockDots(d.block, 4, 6),
            (std::vector<std::string>{"##..", "##..", "##..", "..##", "..##", "..##"}));
}

TEST(Scaling, ShrinkingDropsPixelsWithoutSmoothing) {
  // Target dot d takes source pixel floor(d × 6 / 3) = 0, 2, 4.
  const BmpImage image = Decode({"#.##..", "......", ".#..#.", "#....#"});
  const DownloadImage d = BuildDownloadBlock(image, {3, 2, true});
  ASSERT_EQ(d.result, OPOS_SUCCESS);
  EXPECT_EQ(BlockDots(d.block, 3, 2), (std::vector<std::string>{"##.", "..#"}));
}

TEST(DownloadLimits, XYAndTheirProductAreBounded) {
  const BmpImage image = Decode({"#"});
  struct Case {
    int32_t tw, th;
    bool fits;
  };
  const Case cases[] = {
      {255 * 8, 6 * 8, true},   // x 255, 1530 bytes
      {32 * 8, 48 * 8, true},   // exactly 1536
      {255 * 8 + 1, 8, false},  // x 256
      {8, 48 * 8 + 1, false},   // y 49
      {40 * 8, 39 * 8, false},  // 1560 bytes
      {1000000000, 1, false},   // no allocation for an absurd size
  };
  for (const Case& c : cases) {
    const DownloadImage d = BuildDownloadBlock(image, {c.tw, c.th, true});
    if (c.fits) {
      EXPECT_EQ(d.result, OPOS_SUCCESS) << c.tw << "x" << c.th;
      const size_t x = static_cast<size_t>((c.tw + 7) / 8);
      const size_t y = static_cast<size_t>((c.th + 7) / 8);
      EXPECT_EQ(d.block.size(), 4 + x * y * 8);
    } else {
      EXPECT_EQ(d.result, OPOS_E_EXTENDED) << c.tw << "x" << c.th;
      EXPECT_EQ(d.extended, OPOS_EPTR_TOOBIG);
      EXPECT_TRUE(d.block.empty());
    }
  }
}

class BuildFromFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const BmpLayout& layout) {
    return dir.Write(name, MakeBmp(layout));
  }
  test::TempDir dir;
  BitmapSettings settings;
};

TEST_F(BuildFromFile, FailuresMapToTheirResultCodes) {
  BmpLayout good;
  good.rows = {"#.#", ".#."};
  BmpLayout deep = good;
  deep.bitsPerPixel = 24;
  std::vector<uint8_t> cut = MakeBmp(good);
  cut.pop_back();
  std::vector<uint8_t> wide = MakeBmp(good);
  test::Put32(wide, test::kBiWidth, 0x7FFFFFFF);

  struct Case {
    const char* what;
    std::string file;
    int32_t width;
    int32_t result, extended;
  };
  const Case cases[] = {
      {"missing file", dir.Path() + "/none.bmp", PTR_BM_ASIS, OPOS_E_ILLEGAL, 0},
      {"truncated file", dir.Write("cut.bmp", cut), PTR_BM_ASIS, OPOS_E_FAILURE, 0},
      {"24 bits per pixel", Write("deep.bmp", deep), PTR_BM_ASIS, OPOS_E_EXTENDED, OPOS_EPTR_BADFORMAT},
      {"format before width", Write("deep2.bmp", deep), 589, OPOS_E_EXTENDED, OPOS_EPTR_BADFORMAT},
      {"rows past the pixels", dir.Write("wide.bmp", wide), PTR_BM_ASIS, OPOS_E_EXTENDED,
       OPOS_EPTR_BADFORMAT},
      {"wider than the line", Write("w.bmp", good), 589, OPOS_E_ILLEGAL, 0},
      {"scaled to nothing", Write("z.bmp", good), 2, OPOS_E_ILLEGAL, 0},
      {"negative width", Write("n.bmp", good), -4, OPOS_E_ILLEGAL, 0},
  };
  for (const Case& c : cases) {
    // The read failure code is the caller's: 111 stands for SetBitmap's in
    // the parallel and USB libraries.
    const DownloadImage d = BuildDownloadImage(c.file, c.width, settings, OPOS_E_FAILURE);
    EXPECT_EQ(d.result, c.result) << c.what;
    EXPECT_EQ(d.extended, c.extended) << c.what;
    EXPECT_TRUE(d.block.empty()) << c.what;
  }
  const DownloadImage fits = BuildDownloadImage(Write("ok.bmp", good), 588, settings, OPOS_E_FAILURE);
  EXPECT_EQ(fits.result, OPOS_SUCCESS) << "the full line width is allowed";
}

TEST(PrintCommand, UnknownAlignmentCentres) {
  EXPECT_EQ(PrintBitmapCommand(120, true), B({0x1B, 0x61, 0x31, 0x1D, 0x2F, 0x30, 0x1B, 0x61, 0x30}));
}

}  // namespace
}  // namespace opos
