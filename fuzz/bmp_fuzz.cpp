// BMP reader and the printer's image builder. The whole input is the file; its
// last bytes also pick the Width argument and the map mode, so seeds stay
// plain BMP files. Beyond "no crash": a decoded image never claims more pixels
// than the file holds, and a built block is exactly the GS * block its header
// announces.
#include <span>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "fuzz/fuzz_input.h"
#include "printer/bitmap_file.h"
#include "printer/bitmap_image.h"

using fuzz::check;
using namespace opos;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opos::BmpImage image;
  if (opos::ParseBmp(std::span<const uint8_t>(data, size), &image) != opos::BmpStatus::Ok) return 0;
  const int64_t w = image.Width(), h = image.Height();
  check(w > 0 && h > 0);
  check((w * h + 7) / 8 <= static_cast<int64_t>(size));
  // Every pixel of a small image, the corners of a large one.
  if (w * h <= 4096) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) (void)image.IsDot(x, y);
  } else {
    for (int32_t y : {int32_t{0}, static_cast<int32_t>(h - 1)})
      for (int32_t x : {int32_t{0}, static_cast<int32_t>(w - 1)}) (void)image.IsDot(x, y);
  }

  const uint8_t a = data[size - 1], b = size > 1 ? data[size - 2] : 0;
  opos::BitmapSettings settings;
  settings.MapMode = 1 + (a & 3);
  settings.RecLetterQuality = (a >> 2) & 1;
  settings.RecLineWidth = 588;
  const int32_t widthArg = (a & 0x80) ? PTR_BM_ASIS : static_cast<int32_t>(b) * ((a >> 3) & 0x0F);
  const opos::TargetSize target = opos::ComputeTargetSize(widthArg, image.Width(), image.Height(), settings);
  const opos::DownloadImage block = opos::BuildDownloadBlock(image, target);
  if (block.result != OPOS_SUCCESS) {
    check(block.block.empty());
    check(block.result == OPOS_E_ILLEGAL ||
          (block.result == OPOS_E_EXTENDED && block.extended == OPOS_EPTR_TOOBIG));
    return 0;
  }
  check(block.block.size() >= 4);
  check(block.block[0] == 0x1D && block.block[1] == 0x2A);
  const size_t x = static_cast<uint8_t>(block.block[2]), y = static_cast<uint8_t>(block.block[3]);
  check(x >= 1 && x <= opos::kMaxDownloadX && y >= 1 && y <= opos::kMaxDownloadY);
  check(x * y <= opos::kMaxDownloadBytes);
  check(block.block.size() == 4 + x * y * 8);
  check(x == static_cast<size_t>((target.width + 7) / 8) &&
        y == static_cast<size_t>((target.height + 7) / 8));
  return 0;
}
