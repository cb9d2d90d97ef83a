#include "printer/bitmap_file.h"

#include <cstring>
#include <new>

#include "platform/regular_file.h"

namespace opos {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint16_t kBmpType = 0x4D42;  // "BM"
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool IsWhite(uint8_t blue, uint8_t green, uint8_t red) {
  return blue == 0xFF && green == 0xFF && red == 0xFF;
}

// The 14-byte file header: the type, and offsets that leave room for an
// information block and do not point past the announced end.
BmpStatus CheckFileHeader(const uint8_t* header, uint32_t* bfSize, uint32_t* bfOffBits) {
  if (U16(header) != kBmpType) return BmpStatus::BadFormat;
  *bfSize = U32(header + 2);
  *bfOffBits = U32(header + 10);
  if (*bfOffBits < kFileHeaderSize + 4 || *bfSize < *bfOffBits) return BmpStatus::BadFormat;
  return BmpStatus::Ok;
}

}  // namespace

bool BmpImage::IsDot(int32_t x, int32_t y) const {
  const size_t row = static_cast<size_t>(topDown_ ? y : height_ - 1 - y);
  const uint8_t byte = pixels_[row * stride_ + static_cast<size_t>(x) / 8];
  return paletteDot_[(byte >> (7 - x % 8)) & 1];
}

BmpStatus ParseBmp(std::span<const uint8_t> file, BmpImage* image) {
  if (file.size() < kFileHeaderSize) return BmpStatus::ShortRead;
  uint32_t bfSize = 0;
  uint32_t bfOffBits = 0;
  if (const BmpStatus s = CheckFileHeader(file.data(), &bfSize, &bfOffBits); s != BmpStatus::Ok) return s;
  if (file.size() < bfSize) return BmpStatus::ShortRead;

  const uint8_t* info = file.data() + kFileHeaderSize;
  const size_t infoLength = bfOffBits - kFileHeaderSize;  // information header and colour table
  const uint32_t headerSize = U32(info);
  if (headerSize > infoLength) return BmpStatus::BadFormat;

  BmpImage decoded;
  int64_t width = 0;
  int64_t height = 0;
  uint16_t bitsPerPixel = 0;
  if (headerSize == kCoreHeaderSize) {
    width = U16(info + 4);
    height = U16(info + 6);
    bitsPerPixel = U16(info + 10);
    if (bitsPerPixel != 1) return BmpStatus::BadFormat;
    // RGBTRIPLE entries (blue, green, red) right after the core header.
    if (infoLength < kCoreHeaderSize + 2 * 3) return BmpStatus::BadFormat;
    for (size_t i = 0; i < 2; ++i) {
      const uint8_t* c = info + kCoreHeaderSize + i * 3;
      decoded.paletteDot_[i] = !IsWhite(c[0], c[1], c[2]);
    }
  } else {
    if (headerSize < kInfoHeaderSize) return BmpStatus::BadFormat;
    width = static_cast<int32_t>(U32(info + 4));
    const int32_t signedHeight = static_cast<int32_t>(U32(info + 8));
    bitsPerPixel = U16(info + 14);
    const uint32_t compression = U32(info + 16);
    const uint32_t colorsUsed = U32(info + 32);
    if (bitsPerPixel != 1 || (compression != kBiRgb && compression != kBiBitfields))
      return BmpStatus::BadFormat;
    // A negative height marks rows stored top first.
    decoded.topDown_ = signedHeight < 0;
    height = signedHeight < 0 ? -static_cast<int64_t>(signedHeight) : signedHeight;
    // The three masks of BI_BITFIELDS follow a plain information header.
    size_t palette = headerSize;
    if (headerSize == kInfoHeaderSize && compression == kBiBitfields) palette += 3 * 4;
    // RGBQUAD entries (blue, green, red, reserved). A table of one colour
    // leaves index 1 undefined; it prints, as it would on screen, black.
    const size_t entries = colorsUsed == 1 ? 1 : 2;
    if (palette + entries * 4 > infoLength) return BmpStatus::BadFormat;
    decoded.paletteDot_ = {true, true};
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* c = info + palette + i * 4;
      decoded.paletteDot_[i] = !IsWhite(c[0], c[1], c[2]);
    }
  }
  if (width <= 0 || height <= 0 || height > INT32_MAX) return BmpStatus::BadFormat;

  const uint64_t stride = ((static_cast<uint64_t>(width) + 31) / 32) * 4;
  const uint64_t pixelBytes = stride * static_cast<uint64_t>(height);
  if (pixelBytes > bfSize - bfOffBits) return BmpStatus::BadFormat;

  try {
    decoded.pixels_.assign(file.begin() + bfOffBits,
                           file.begin() + bfOffBits + static_cast<ptrdiff_t>(pixelBytes));
  } catch (const std::bad_alloc&) {
    return BmpStatus::ShortRead;
  }
  decoded.width_ = static_cast<int32_t>(width);
  decoded.height_ = static_cast<int32_t>(height);
  decoded.stride_ = static_cast<size_t>(stride);
  *image = std::move(decoded);
  return BmpStatus::Ok;
}

BmpStatus ReadBmpFile(const std::string& path, BmpImage* image) {
  // A FIFO or device must not hang the caller.
  platform::RegularFile f;
  if (f.Open(path) != platform::RegularFile::Status::kOk) return BmpStatus::OpenFailed;

  uint8_t header[kFileHeaderSize];
  if (!f.ReadFully(header, sizeof header)) return BmpStatus::ShortRead;
  uint32_t bfSize = 0;
  uint32_t bfOffBits = 0;
  if (const BmpStatus s = CheckFileHeader(header, &bfSize, &bfOffBits); s != BmpStatus::Ok) return s;
  // Sizes come from the file: nothing is allocated for bytes that are not there.
  if (f.Size() < bfSize) return BmpStatus::ShortRead;

  std::vector<uint8_t> file;
  try {
    file.resize(bfSize);
  } catch (const std::bad_alloc&) {
    return BmpStatus::ShortRead;
  }
  std::memcpy(file.data(), header, sizeof header);
  if (!f.ReadFully(file.data() + sizeof header, file.size() - sizeof header)) return BmpStatus::ShortRead;
  return ParseBmp(file, image);
}

}  // namespace opos
