// BMP files written by the tests themselves: a 1-bit image from rows of
// '#' (ink) and '.' (paper), with every header field open to tampering.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace opos::test {

struct BmpLayout {
  std::vector<std::string> rows;  // top row first; '#' = palette index 1
  bool coreHeader = false;        // 12-byte BITMAPCOREHEADER
  bool topDown = false;           // negative height (information header only)
  uint16_t bitsPerPixel = 1;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  // Palette entries as 0xRRGGBB; index 0 paper, index 1 ink by default.
  uint32_t color0 = 0xFFFFFF;
  uint32_t color1 = 0x000000;
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets of the fields tests tamper with.
inline constexpr size_t kBfSize = 2;
inline constexpr size_t kBfOffBits = 10;
inline constexpr size_t kBiSize = 14;
inline constexpr size_t kBiWidth = 18;
inline constexpr size_t kBiHeight = 22;
inline constexpr size_t kBiBitCount = 28;
inline constexpr size_t kBiCompression = 30;
inline constexpr size_t kBiClrUsed = 46;

inline std::vector<uint8_t> MakeBmp(const BmpLayout& s) {
  const uint32_t width = s.rows.empty() ? 0 : static_cast<uint32_t>(s.rows[0].size());
  const uint32_t height = static_cast<uint32_t>(s.rows.size());
  const uint32_t headerSize = s.coreHeader ? 12 : 40;
  const uint32_t entrySize = s.coreHeader ? 3 : 4;
  const uint32_t masks = (!s.coreHeader && s.compression == 3) ? 12 : 0;
  const uint32_t offBits = 14 + headerSize + masks + 2 * entrySize;
  const uint32_t bpp = s.bitsPerPixel;
  const uint32_t stride = ((width * bpp + 31) / 32) * 4;
  std::vector<uint8_t> b(offBits + stride * height, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, kBfSize, static_cast<uint32_t>(b.size()));
  Put32(b, kBfOffBits, offBits);
  Put32(b, kBiSize, headerSize);
  if (s.coreHeader) {
    Put16(b, 18, width);
    Put16(b, 20, height);
    Put16(b, 22, 1);
    Put16(b, 24, bpp);
  } else {
    Put32(b, kBiWidth, width);
    Put32(b, kBiHeight, s.topDown ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : height);
    Put16(b, 26, 1);
    Put16(b, kBiBitCount, bpp);
    Put32(b, kBiCompression, s.compression);
    Put32(b, 34, stride * height);
    Put32(b, kBiClrUsed, s.colorsUsed);
  }
  const size_t palette = 14 + headerSize + masks;
  for (uint32_t i = 0; i < 2; ++i) {
    const uint32_t c = i == 0 ? s.color0 : s.color1;
    b[palette + i * entrySize] = static_cast<uint8_t>(c);            // blue
    b[palette + i * entrySize + 1] = static_cast<uint8_t>(c >> 8);   // green
    b[palette + i * entrySize + 2] = static_cast<uint8_t>(c >> 16);  // red
  }
  for (uint32_t r = 0; r < height; ++r) {
    const uint32_t stored = s.topDown ? r : height - 1 - r;
    uint8_t* row = b.data() + offBits + stored * stride;
    for (uint32_t x = 0; x < width; ++x) {
      const bool ink = s.rows[r][x] == '#';
      if (bpp == 1) {
        if (ink) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      } else if (bpp == 24) {
        const uint8_t v = ink ? 0 : 0xFF;
        row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
      }
    }
  }
  return b;
}

// Rows of a w × h image with ink where pred(x, y) holds.
template <typename Pred>
std::vector<std::string> Pattern(int w, int h, Pred pred) {
  std::vector<std::string> rows(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (pred(x, y)) rows[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
    }
  }
  return rows;
}

// A scratch folder removed with the object.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/opos-bitmap-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() {
    std::error_code ec;
    if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace opos::test
