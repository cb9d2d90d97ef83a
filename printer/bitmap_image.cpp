#include "printer/bitmap_image.h"

#include <cmath>
#include <vector>

#include "printer/printer_properties.h"

namespace opos {

namespace {

// Half up (add 0.5, truncate); nothing below one dot, and no overflow.
int32_t RoundDots(double v) {
  if (!(v >= 0.5)) return 0;
  if (v >= 1e9) return 1000000000;
  return static_cast<int32_t>(v + 0.5);
}

}  // namespace

TargetSize ComputeTargetSize(int32_t width, int32_t imageWidth, int32_t imageHeight,
                             const BitmapSettings& settings) {
  if (width == PTR_BM_ASIS) return {imageWidth, imageHeight, settings.RecLetterQuality == 1};
  if (width < 0 || imageWidth <= 0) return {};
  double m = width * 0.5 - 1;
  if (settings.MapMode != PTR_MM_DOTS) m *= ToDotsFactor(settings.MapMode);
  // Wide images are drawn at half size and printed quadruple; the comparison
  // is in MapMode units, as applications have always seen it.
  const bool quadruple = width >= 256;
  const double w = quadruple ? m : 2 * m;
  return {RoundDots(w), RoundDots(w * imageHeight / imageWidth), !quadruple};
}

DownloadImage BuildDownloadBlock(const BmpImage& image, const TargetSize& size) {
  DownloadImage out;
  out.normalSize = size.normalSize;
  if (size.width <= 0 || size.height <= 0) {
    out.result = OPOS_E_ILLEGAL;
    return out;
  }
  const int64_t x = (static_cast<int64_t>(size.width) + 7) / 8;
  const int64_t y = (static_cast<int64_t>(size.height) + 7) / 8;
  if (x > kMaxDownloadX || y > kMaxDownloadY || x * y > kMaxDownloadBytes) {
    out.result = OPOS_E_EXTENDED;
    out.extended = OPOS_EPTR_TOOBIG;
    return out;
  }

  // Nearest neighbour as StretchBlt's COLORONCOLOR does it: destination dot d
  // takes source pixel floor(d × source / target).
  const int32_t tw = size.width;
  const int32_t th = size.height;
  std::vector<int32_t> sourceRow(static_cast<size_t>(th));
  for (int32_t r = 0; r < th; ++r) {
    sourceRow[static_cast<size_t>(r)] = static_cast<int32_t>(static_cast<int64_t>(r) * image.Height() / th);
  }

  const size_t columnBytes = static_cast<size_t>(y);
  out.block.assign(4 + static_cast<size_t>(x * y * 8), '\0');
  out.block[0] = 0x1D;
  out.block[1] = 0x2A;
  out.block[2] = static_cast<char>(x);
  out.block[3] = static_cast<char>(y);
  for (int32_t c = 0; c < tw; ++c) {
    const int32_t sx = static_cast<int32_t>(static_cast<int64_t>(c) * image.Width() / tw);
    const size_t column = 4 + static_cast<size_t>(c) * columnBytes;
    for (int32_t r = 0; r < th; ++r) {
      if (image.IsDot(sx, sourceRow[static_cast<size_t>(r)])) {
        out.block[column + static_cast<size_t>(r / 8)] |= static_cast<char>(0x80 >> (r % 8));
      }
    }
  }
  return out;
}

DownloadImage BuildDownloadImage(const std::string& fileName, int32_t width, const BitmapSettings& settings,
                                 int32_t readFailure) {
  DownloadImage out;
  BmpImage image;
  switch (ReadBmpFile(fileName, &image)) {
    case BmpStatus::Ok:
      break;
    case BmpStatus::OpenFailed:
      out.result = OPOS_E_ILLEGAL;
      return out;
    case BmpStatus::ShortRead:
      out.result = readFailure;
      return out;
    case BmpStatus::BadFormat:
      out.result = OPOS_E_EXTENDED;
      out.extended = OPOS_EPTR_BADFORMAT;
      return out;
  }
  if (width != PTR_BM_ASIS && width > settings.RecLineWidth) {
    out.result = OPOS_E_ILLEGAL;
    return out;
  }
  return BuildDownloadBlock(image, ComputeTargetSize(width, image.Width(), image.Height(), settings));
}

std::string PrintBitmapCommand(int32_t alignment, bool normalSize) {
  const char a = alignment == PTR_BM_LEFT ? 0x30 : alignment == PTR_BM_RIGHT ? 0x32 : 0x31;
  return {0x1B, 0x61, a, 0x1D, 0x2F, static_cast<char>(normalSize ? 0x30 : 0x33), 0x1B, 0x61, 0x30};
}

}  // namespace opos
