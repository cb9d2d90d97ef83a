// One printed receipt as dots, and its PNG form (white paper, black dots).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vprinter {

struct ReceiptImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> dots;  // row-major, width x height, 1 = a printed dot
  bool cut = false;           // ended by a cut; false: the paper was still in the printer
  bool cutOff = false;        // longer than the height limit; the rest is not drawn

  bool Dark(int x, int y) const {
    return x >= 0 && y >= 0 && x < width && y < height &&
           dots[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] != 0;
  }
};

// Encodes image as an 8-bit greyscale PNG into *png. False with *error when libpng refuses.
[[nodiscard]] bool EncodePng(const ReceiptImage& image, std::vector<uint8_t>* png, std::string* error);

// Writes the PNG to path through a temporary file in the same folder, so that the
// name only ever shows a whole image.
[[nodiscard]] bool WritePngFile(const ReceiptImage& image, const std::string& path, std::string* error);

// "receipt-0001.png" for index 1.
std::string ReceiptFileName(size_t index);

}  // namespace vprinter
