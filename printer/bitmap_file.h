// Windows BMP files as PrintBitmap and SetBitmap accept them: one bit per
// pixel, uncompressed (BI_RGB, or BI_BITFIELDS as the printer service has
// always let through), with a core (12-byte) or information (40 bytes or
// more) header. Every size and offset the file announces is checked against
// the bytes actually there before anything is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace opos {

enum class BmpStatus {
  Ok,
  OpenFailed,  // no such file, not a regular file, no permission
  ShortRead,   // the file ends before the sizes it announces (or memory ran out)
  BadFormat,   // not "BM", not 1 bit per pixel, compressed, or fields that do not add up
};

// A decoded 1-bit image; rows are addressed from the top whatever the file's
// row order.
class BmpImage {
 public:
  [[nodiscard]] int32_t Width() const { return width_; }
  [[nodiscard]] int32_t Height() const { return height_; }
  // True when the pixel's colour is not pure white (it prints as a dot).
  // x in [0, Width()), y in [0, Height()), y = 0 the top row.
  [[nodiscard]] bool IsDot(int32_t x, int32_t y) const;

 private:
  friend BmpStatus ParseBmp(std::span<const uint8_t> file, BmpImage* image);
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool topDown_ = false;
  size_t stride_ = 0;  // bytes per stored row, padded to 4
  std::array<bool, 2> paletteDot_{};
  std::vector<uint8_t> pixels_;  // height_ rows of stride_ bytes, file order
};

// Decodes a whole file held in memory. The pixel block runs from bfOffBits to
// bfSize; a buffer shorter than bfSize is a ShortRead. On failure `image` is
// left unchanged.
[[nodiscard]] BmpStatus ParseBmp(std::span<const uint8_t> file, BmpImage* image);

// Opens and decodes a file. Reads only the 14-byte file header and then the
// bfSize bytes it announces, never more, and allocates nothing before the
// file is known to be that long.
[[nodiscard]] BmpStatus ReadBmpFile(const std::string& path, BmpImage* image);

}  // namespace opos
