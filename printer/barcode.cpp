#include "printer/barcode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "printer/code_page.h"

namespace opos {
namespace {

// GS k function B carries the data length in one byte.
constexpr size_t kMaxBarCodeData = 255;

struct Symbology {
  int32_t value;
  uint8_t m;  // GS k function B code
  // Estimated dots per character at module widths 2..6 (512 / k); empty for
  // the symbologies chosen by threshold table.
  std::array<double, 5> factors;
  // Threshold table: the smallest width in dots for module widths 3..6
  // (kNever: that width is never chosen, whatever the width asked for).
  std::array<int64_t, 4> thresholds;
  int32_t extraChars;  // start/stop characters counted by best fit
};

constexpr int64_t kNever = -1;

constexpr Symbology kSymbologies[] = {
    {PTR_BCS_UPCA, 0x41, {}, {285, 380, 475, kNever}, 0},
    {PTR_BCS_UPCE, 0x42, {}, {67, 155, 206, 257}, 0},
    {PTR_BCS_JAN8, 0x44, {}, {201, 268, 335, 402}, 0},
    {PTR_BCS_JAN13, 0x43, {}, {285, 380, 475, kNever}, 0},
    {PTR_BCS_ITF, 0x46, {18.286, 28.444, 36.571, 51.2, 64}, {}, 0},
    {PTR_BCS_Codabar, 0x47, {23.273, 36.571, 46.545, 56.889, 73.143}, {}, 0},
    {PTR_BCS_Code39, 0x45, {30.118, 46.545, 64, 85.333, 102.4}, {}, 2},
    {PTR_BCS_Code93, 0x48, {21.333, 34.133, 46.545, 64, 85.333}, {}, 2},
    {PTR_BCS_Code128, 0x49, {25.6, 42.667, 64, 85.333, 128}, {}, 0},
};

const Symbology* FindSymbology(int32_t value) {
  for (const Symbology& s : kSymbologies) {
    if (s.value == value) return &s;
  }
  return nullptr;
}

bool DataRuleHolds(const BarcodeProfile& profile, int32_t symbology, std::string_view data) {
  const size_t len = data.size();
  switch (symbology) {
    case PTR_BCS_UPCA:
      return len == 11 || len == 12;
    case PTR_BCS_UPCE:
      return (len == 11 || len == 12) && data[0] == '0';
    case PTR_BCS_JAN8:
      return len == 7 || len == 8;
    case PTR_BCS_JAN13:
      return len == 12 || len == 13;
    case PTR_BCS_ITF:
      return !profile.itfEvenLengthOnly || len % 2 == 0;
    default:
      return true;
  }
}

int64_t RoundHalfUp(double v) {
  return static_cast<int64_t>(std::trunc(v + 0.5));
}

}  // namespace

int32_t SelectModuleWidth(int32_t symbology, size_t dataLength, int32_t dots) {
  const Symbology* s = FindSymbology(symbology);
  if (s == nullptr) return 2;
  if (s->factors[0] == 0) {
    int32_t n = 2;
    for (int64_t t : s->thresholds) {
      if (t != kNever && dots >= t) ++n;
    }
    return n;
  }
  // Best fit: the widest module whose estimated symbol width fits.
  const double chars = static_cast<double>(dataLength) + s->extraChars;
  int64_t best = std::numeric_limits<int64_t>::max();
  int32_t n = 2;
  for (int32_t k = 2; k <= 6; ++k) {
    const double u = chars * s->factors[k - 2];
    const int64_t p = RoundHalfUp(u);
    if (p <= dots && RoundHalfUp(dots - u) < best) {
      n = k;
      best = dots - p;
    }
  }
  return n;
}

BarCodeCommand BuildBarCodeCommand(const BarcodeProfile& profile, const PrintProperties& props,
                                   const BarCodeRequest& request) {
  BarCodeCommand cmd;
  auto refuse = [&cmd]() {
    cmd.result = OPOS_E_ILLEGAL;
    cmd.bytes.clear();
    return cmd;
  };

  if (request.station != PTR_S_RECEIPT) return refuse();
  // Rotated barcodes are not supported.
  if (props.RotateSpecial != PTR_RP_NORMAL) return refuse();
  if (request.width > props.RecLineWidth) return refuse();
  // GS h takes 1..255 dots; a negative height has no meaning.
  if (request.height < 0) return refuse();

  std::string data;
  // Only the alphanumeric symbologies carry text (and its human-readable
  // line); numeric data keeps its bytes, so its length rules see them.
  const bool text = request.symbology == PTR_BCS_Code39 || request.symbology == PTR_BCS_Code93 ||
                    request.symbology == PTR_BCS_Code128;
  const int32_t converted = text ? PrintArgumentBytes(props, request.data, data)
                                 : ApplyBinaryConversion(props.BinaryConversion, request.data, data);
  if (converted != OPOS_SUCCESS) return refuse();

  const Symbology* sym = FindSymbology(request.symbology);
  if (sym == nullptr) return refuse();
  if (!DataRuleHolds(profile, request.symbology, data)) return refuse();
  if (request.symbology == PTR_BCS_Code128 && data.find("{A") == std::string::npos) {
    data.insert(0, "{A");
  }
  if (data.size() > kMaxBarCodeData) return refuse();

  uint8_t textPosition = 0;
  switch (request.textPosition) {
    case PTR_BC_TEXT_NONE:
      textPosition = 0x30;
      break;
    case PTR_BC_TEXT_ABOVE:
      textPosition = 0x31;
      break;
    case PTR_BC_TEXT_BELOW:
      textPosition = 0x32;
      break;
    default:
      return refuse();
  }
  uint8_t alignment = 0x31;
  if (request.alignment == PTR_BC_LEFT) alignment = 0x30;
  if (request.alignment == PTR_BC_RIGHT) alignment = 0x32;

  const int32_t dots = ToDots(request.width, props.MapMode);
  const auto moduleWidth = static_cast<uint8_t>(SelectModuleWidth(request.symbology, data.size(), dots));
  const int64_t h = std::min<int64_t>(int64_t{ToDots(request.height, props.MapMode)} + 1, 255);

  const uint8_t hriFont = props.RecLineChars > 42 ? 0x31 : 0x30;
  const uint8_t head[] = {
      0x1D,
      0x66,
      hriFont,  // HRI font
      0x1D,
      0x77,
      moduleWidth,  // module width
      0x1D,
      0x68,
      static_cast<uint8_t>(h),  // height
      0x1B,
      0x61,
      alignment,  // alignment
      0x1D,
      0x48,
      textPosition,  // HRI position
      0x1D,
      0x6B,
      sym->m,
      static_cast<uint8_t>(data.size()),
  };
  cmd.bytes.reserve(sizeof(head) + data.size());
  cmd.bytes.append(reinterpret_cast<const char*>(head), sizeof(head));
  cmd.bytes += data;
  return cmd;
}

}  // namespace opos
