// The BMP reader: what it decodes, and every way a file can lie about itself.
#include <sys/stat.h>

#include <memory>

#include <gtest/gtest.h>

#include "printer/bitmap_file.h"
#include "tests/bitmap/bmp_writer.h"

namespace opos {
namespace {

using test::BmpLayout;
using test::MakeBmp;
using test::Put32;

const std::vector<std::string> kArrow = {
    "#.........",
    "##........",
    "#.#......#",
};

// The image's dots read back as rows of '#' and '.'.
std::vector<std::string> Dots(const BmpImage& image) {
  std::vector<std::string> rows;
  for (int32_t y = 0; y < image.Height(); ++y) {
    std::string row;
    for (int32_t x = 0; x < image.Width(); ++x) row.push_back(image.IsDot(x, y) ? '#' : '.');
    rows.push_back(row);
  }
  return rows;
}

// Parses from a heap block of exactly the file's size, so that AddressSanitizer
// sees any read past its end.
BmpStatus ParseExact(const std::vector<uint8_t>& file, BmpImage* image, size_t length) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
  std::copy_n(file.begin(), length, copy.get());
  return ParseBmp(std::span<const uint8_t>(copy.get(), length), image);
}

TEST(BmpDecode, RowOrderAndHeaderKindsGiveTheSameDots) {
  for (const bool core : {false, true}) {
    for (const bool topDown : {false, true}) {
      if (core && topDown) continue;  // the core header has no signed height
      BmpLayout layout;
      layout.rows = kArrow;
      layout.coreHeader = core;
      layout.topDown = topDown;
      BmpImage image;
      test::TempDir dir;
      ASSERT_EQ(ReadBmpFile(dir.Write("a.bmp", MakeBmp(layout)), &image), BmpStatus::Ok) << core << topDown;
      EXPECT_EQ(image.Width(), 10);
      EXPECT_EQ(image.Height(), 3);
      EXPECT_EQ(Dots(image), kArrow) << "core " << core << " topDown " << topDown;
    }
  }
}

TEST(BmpDecode, ADotIsAnyColourButPureWhite) {
  BmpLayout layout;
  layout.rows = {"#.#."};
  // Paper in index 1, ink in index 0: the palette decides, not the bit.
  layout.color0 = 0x000000;
  layout.color1 = 0xFFFFFF;
  BmpImage image;
  ASSERT_EQ(ParseBmp(MakeBmp(layout), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), std::vector<std::string>{".#.#"});

  // Nearly white still prints; two pure whites print nothing.
  layout.color0 = 0xFFFFFE;
  layout.color1 = 0xFFFFFF;
  ASSERT_EQ(ParseBmp(MakeBmp(layout), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), std::vector<std::string>{".#.#"});
  layout.color0 = 0xFFFFFF;
  ASSERT_EQ(ParseBmp(MakeBmp(layout), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), std::vector<std::string>{"...."});

  // A one-colour table leaves index 1 undefined: it prints.
  layout.colorsUsed = 1;
  ASSERT_EQ(ParseBmp(MakeBmp(layout), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), std::vector<std::string>{"#.#."});
}

TEST(BmpDecode, BitfieldsIsAcceptedWithItsMasksSkipped) {
  BmpLayout layout;
  layout.rows = kArrow;
  layout.compression = 3;
  BmpImage image;
  ASSERT_EQ(ParseBmp(MakeBmp(layout), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), kArrow);
}

TEST(BmpDecode, OnlyUncompressedOneBitFilesAreTheRightFormat) {
  BmpLayout deep;
  deep.rows = kArrow;
  deep.bitsPerPixel = 24;
  BmpImage image;
  EXPECT_EQ(ParseBmp(MakeBmp(deep), &image), BmpStatus::BadFormat);

  BmpLayout rle;
  rle.rows = kArrow;
  rle.compression = 1;
  EXPECT_EQ(ParseBmp(MakeBmp(rle), &image), BmpStatus::BadFormat);

  BmpLayout core;
  core.rows = kArrow;
  core.coreHeader = true;
  core.bitsPerPixel = 4;
  EXPECT_EQ(ParseBmp(MakeBmp(core), &image), BmpStatus::BadFormat);

  std::vector<uint8_t> notBm = MakeBmp(BmpLayout{kArrow});
  notBm[0] = 'P';
  EXPECT_EQ(ParseBmp(notBm, &image), BmpStatus::BadFormat);
  EXPECT_EQ(image.Width(), 0) << "a refused file leaves the image alone";
}

TEST(BmpDecode, HeaderFieldsThatDoNotAddUpAreRefused) {
  const std::vector<uint8_t> good = MakeBmp(BmpLayout{kArrow});
  const uint32_t offBits = 14 + 40 + 8;
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  };
  const Case cases[] = {
      {"bfOffBits inside the file header", test::kBfOffBits, 10},
      {"bfOffBits leaves no room for biSize", test::kBfOffBits, 16},
      {"bfOffBits past bfSize", test::kBfOffBits, static_cast<uint32_t>(good.size()) + 1},
      {"bfSize below bfOffBits", test::kBfSize, offBits - 1},
      {"pixel block shorter than the rows", test::kBfSize, static_cast<uint32_t>(good.size()) - 1},
      {"biSize beyond the header block", test::kBiSize, 124},
      {"biSize of no known header", test::kBiSize, 20},
      {"palette outside the header block", test::kBfOffBits, 14 + 40 + 4},
      {"zero width", test::kBiWidth, 0},
      {"negative width", test::kBiWidth, 0xFFFFFFF6},
      {"zero height", test::kBiHeight, 0},
      {"height without an absolute value", test::kBiHeight, 0x80000000},
      {"width whose rows overrun the pixels", test::kBiWidth, 0x7FFFFFFF},
      {"height whose rows overrun the pixels", test::kBiHeight, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = good;
    Put32(file, c.at, c.value);
    BmpImage image;
    EXPECT_EQ(ParseExact(file, &image, file.size()), BmpStatus::BadFormat) << c.what;
  }
}

TEST(BmpDecode, AFileShorterThanItsHeaderSaysIsAShortRead) {
  const std::vector<uint8_t> good = MakeBmp(BmpLayout{kArrow});
  BmpImage image;
  for (size_t n = 0; n < good.size(); ++n) {
    // Below 14 bytes even the type is unknown; from there the file is "BM"
    // but ends before bfSize.
    EXPECT_EQ(ParseExact(good, &image, n), BmpStatus::ShortRead) << n;
  }
  EXPECT_EQ(ParseExact(good, &image, good.size()), BmpStatus::Ok);

  test::TempDir dir;
  const std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  EXPECT_EQ(ReadBmpFile(dir.Write("cut.bmp", cut), &image), BmpStatus::ShortRead);
  EXPECT_EQ(ReadBmpFile(dir.Write("tiny.bmp", {'B', 'M', 0}), &image), BmpStatus::ShortRead);
  // bfSize announcing 4 GB: refused from the file's size, nothing allocated.
  std::vector<uint8_t> huge = good;
  Put32(huge, test::kBfSize, 0xFFFFFFF0);
  EXPECT_EQ(ReadBmpFile(dir.Write("huge.bmp", huge), &image), BmpStatus::ShortRead);
  // Trailing bytes past bfSize are not part of the image.
  std::vector<uint8_t> longer = good;
  longer.resize(good.size() + 100, 0xAA);
  EXPECT_EQ(ReadBmpFile(dir.Write("long.bmp", longer), &image), BmpStatus::Ok);
  EXPECT_EQ(Dots(image), kArrow);
}

TEST(BmpDecode, EverySingleByteCorruptionIsHandled) {
  // No expectation on the status: the point is that no header value makes the
  // reader touch memory outside the file or the image (AddressSanitizer).
  const std::vector<uint8_t> good = MakeBmp(BmpLayout{kArrow});
  size_t accepted = 0;
  for (size_t at = 0; at < 14 + 40 + 8; ++at) {
    for (const uint8_t v : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x7F}, uint8_t{0x80}, uint8_t{0xFF}}) {
      std::vector<uint8_t> file = good;
      file[at] = v;
      BmpImage image;
      if (ParseExact(file, &image, file.size()) != BmpStatus::Ok) continue;
      ++accepted;
      for (int32_t y = 0; y < image.Height(); ++y) {
        for (int32_t x = 0; x < image.Width(); ++x) (void)image.IsDot(x, y);
      }
    }
  }
  EXPECT_GT(accepted, 0u) << "fields such as the resolution do not matter";
}

TEST(BmpOpen, WhatCannotBeOpenedAsAFileIsOpenFailed) {
  test::TempDir dir;
  BmpImage image;
  EXPECT_EQ(ReadBmpFile(dir.Path() + "/missing.bmp", &image), BmpStatus::OpenFailed);
  EXPECT_EQ(ReadBmpFile("", &image), BmpStatus::OpenFailed);
  EXPECT_EQ(ReadBmpFile(dir.Path(), &image), BmpStatus::OpenFailed);
  // A FIFO nobody writes to: refused at once instead of blocking the caller.
  const std::string fifo = dir.Path() + "/fifo.bmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadBmpFile(fifo, &image), BmpStatus::OpenFailed);
}

}  // namespace
}  // namespace opos
