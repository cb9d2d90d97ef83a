// PrintBarCode's command block: HRI font, module width, height, alignment,
// HRI position and the GS k (function B) data. The printer encodes and draws
// the symbol itself; here only the request is checked and the block built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "printer/translate.h"

namespace opos {

// Where the libraries differ for barcodes.
struct BarcodeProfile {
  bool itfEvenLengthOnly;
  // serialso pauses before handing the block to SendOutput; the printer
  // object does the wait (this library never sleeps).
  int32_t delayBeforeSendMs;
};

inline constexpr BarcodeProfile kSerialBarcode{true, 100};
inline constexpr BarcodeProfile kParallelBarcode{true, 0};
inline constexpr BarcodeProfile kUsbBarcode{false, 0};

struct BarCodeRequest {
  int32_t station = PTR_S_RECEIPT;
  std::string_view data;
  int32_t symbology = 0;
  int32_t height = 0;  // MapMode units
  int32_t width = 0;   // MapMode units
  int32_t alignment = PTR_BC_CENTER;
  int32_t textPosition = PTR_BC_TEXT_BELOW;
};

struct BarCodeCommand {
  int32_t result = OPOS_SUCCESS;
  int32_t resultExtended = 0;
  std::string bytes;  // empty unless result is OPOS_SUCCESS
};

// Steps of PrintBarCode after its enabled check (105, the caller's): station,
// RotateSpecial, width, binary conversion, symbology, data rule, text
// position. Any failure is OPOS_E_ILLEGAL with no bytes. On success the caller
// waits profile.delayBeforeSendMs and sends `bytes` with
// SendOutput(PTR_S_RECEIPT, bytes, 0), whose result is the method's.
[[nodiscard]] BarCodeCommand BuildBarCodeCommand(const BarcodeProfile& profile, const PrintProperties& props,
                                                 const BarCodeRequest& request);

// Module width (2..6) for a symbology and a width in dots; `dataLength`
// counts the converted data with any Code128 prefix.
[[nodiscard]] int32_t SelectModuleWidth(int32_t symbology, size_t dataLength, int32_t dots);

}  // namespace opos
