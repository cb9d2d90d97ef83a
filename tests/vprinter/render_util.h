// Helpers for the receipt image tests: bytes to images, a PNG reader of the tests' own
// (libpng's simplified interface), and measurements on the dots.
#pragma once

#include <png.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/vprinter/test_bytes.h"
#include "tools/vprinter/escpos_parser.h"
#include "tools/vprinter/receipt_renderer.h"

namespace vprinter_test {

inline std::vector<vprinter::ReceiptImage> Render(
    const Bytes& bytes, int maxHeight = vprinter::ReceiptRenderer::kDefaultMaxHeight) {
  std::vector<vprinter::Command> commands;
  vprinter::EscPosParser parser([&](vprinter::Command&& c) { commands.push_back(std::move(c)); });
  parser.Feed(bytes);
  return vprinter::RenderReceipts(commands, 1000, maxHeight);
}

// The one receipt that bytes print (no cut in them).
inline vprinter::ReceiptImage RenderOne(const Bytes& bytes) {
  std::vector<vprinter::ReceiptImage> all = Render(bytes);
  return all.size() == 1 ? all[0] : vprinter::ReceiptImage{};
}

struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> grey;  // 0 black .. 255 white
  bool Dark(int x, int y) const {
    return grey[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] < 128;
  }
};

inline std::optional<Decoded> DecodePng(const std::vector<uint8_t>& png) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, png.data(), png.size())) return std::nullopt;
  img.format = PNG_FORMAT_GRAY;
  Decoded out;
  out.width = static_cast<int>(img.width);
  out.height = static_cast<int>(img.height);
  out.grey.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, out.grey.data(), 0, nullptr)) {
    png_image_free(&img);
    return std::nullopt;
  }
  return out;
}

inline std::optional<Decoded> DecodePngFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return DecodePng(
      std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// Bounding box of the dark dots in rows [y0, y1); empty() when there are none.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;  // x1, y1 inclusive
  bool empty() const { return x1 < 0; }
  int Width() const { return empty() ? 0 : x1 - x0 + 1; }
  int Height() const { return empty() ? 0 : y1 - y0 + 1; }
  int CentreX() const { return (x0 + x1) / 2; }
};

inline Box DarkBox(const vprinter::ReceiptImage& img, int y0 = 0, int y1 = 1 << 30) {
  Box b;
  for (int y = std::max(y0, 0); y < std::min(y1, img.height); ++y) {
    for (int x = 0; x < img.width; ++x) {
      if (img.Dark(x, y)) {
        b.x0 = std::min(b.x0, x);
        b.x1 = std::max(b.x1, x);
        b.y0 = std::min(b.y0, y);
        b.y1 = std::max(b.y1, y);
      }
    }
  }
  return b;
}

inline size_t DarkCount(const vprinter::ReceiptImage& img) {
  return static_cast<size_t>(std::count(img.dots.begin(), img.dots.end(), uint8_t{1}));
}

// Rows that hold at least one dark dot, in order.
inline std::vector<int> DarkRows(const vprinter::ReceiptImage& img) {
  std::vector<int> rows;
  for (int y = 0; y < img.height; ++y) {
    for (int x = 0; x < img.width; ++x) {
      if (img.Dark(x, y)) {
        rows.push_back(y);
        break;
      }
    }
  }
  return rows;
}

}  // namespace vprinter_test
