// A bitmap file turned into the printer's downloaded bit image: the target
// size from the Width argument, nearest-neighbour scaling (dots deleted or
// repeated, never smoothed), and the GS * define block with its GS / print
// command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "printer/bitmap_file.h"

namespace opos {

// Where the libraries differ around bitmaps.
struct BitmapProfile {
  // SetBitmap's result when the file cannot be read whole or memory runs out
  // (a file that cannot be opened is always OPOS_E_ILLEGAL).
  int32_t setBitmapReadFailure;
  // The library writes its trace lines to the console while converting.
  bool consoleTrace;
};

inline constexpr BitmapProfile kSerialBitmap{OPOS_E_ILLEGAL, true};
inline constexpr BitmapProfile kParallelBitmap{OPOS_E_FAILURE, false};
inline constexpr BitmapProfile kUsbBitmap{OPOS_E_FAILURE, false};

inline constexpr std::string_view kPrintBitmapTrace{"CPOSPrinter::PrintBitmap()... \r\n"};
inline constexpr std::string_view kSetBitmapTrace{"CPOSPrinter::SetBitmap()... \r\n"};

// GS * limits: x × y bytes of eight rows each.
inline constexpr int32_t kMaxDownloadBytes = 1536;
inline constexpr int32_t kMaxDownloadX = 255;
inline constexpr int32_t kMaxDownloadY = 48;

// The printer properties a conversion reads, copied for one call.
struct BitmapSettings {
  int32_t MapMode = PTR_MM_DOTS;
  int32_t RecLineWidth = 588;  // in MapMode units
  int32_t RecLetterQuality = 0;
};

struct TargetSize {
  int32_t width = 0;  // dots; 0 when the Width argument leaves no image
  int32_t height = 0;
  bool normalSize = true;  // false: printed quadruple (double width and height)
};

// The scaled size of a w × h image for the Width argument (PTR_BM_ASIS or a
// length in MapMode units).
[[nodiscard]] TargetSize ComputeTargetSize(int32_t width, int32_t imageWidth, int32_t imageHeight,
                                           const BitmapSettings& settings);

struct DownloadImage {
  int32_t result = OPOS_SUCCESS;
  int32_t extended = 0;  // ResultCodeExtended for OPOS_E_EXTENDED
  std::string block;     // 1D 2A x y and x × y × 8 bytes
  bool normalSize = true;
};

// Scales `image` to `size` and lays the dots out as the GS * block: x × 8
// columns left to right, each y bytes top to bottom, bit 7 the upper dot.
// 114 / OPOS_EPTR_TOOBIG beyond the printer's limits.
[[nodiscard]] DownloadImage BuildDownloadBlock(const BmpImage& image, const TargetSize& size);

// BuildDownloadImage: reads the file, checks Width against RecLineWidth and
// converts. `readFailure` is the result for a file that cannot be read whole
// (OPOS_E_ILLEGAL, or the library's SetBitmap code). A Width that scales the
// image to nothing, or is negative other than PTR_BM_ASIS, is OPOS_E_ILLEGAL.
[[nodiscard]] DownloadImage BuildDownloadImage(const std::string& fileName, int32_t width,
                                               const BitmapSettings& settings, int32_t readFailure);

// The print command after a download: the alignment, GS / in normal or
// quadruple size, and left alignment again.
[[nodiscard]] std::string PrintBitmapCommand(int32_t alignment, bool normalSize);

}  // namespace opos
