// PrintBarCode's block from fuzzed request fields and data. A built block is
// one well-formed command run whose GS k length byte is the length of the
// data that follows, and that data is the request's data after conversion.
#include <algorithm>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "fuzz/fuzz_input.h"
#include "printer/barcode.h"
#include "printer/translate.h"

using fuzz::check;
using namespace opos;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t pick = in.byte();
  const opos::BarcodeProfile& profile = pick % 3 == 0   ? opos::kSerialBarcode
                                        : pick % 3 == 1 ? opos::kParallelBarcode
                                                        : opos::kUsbBarcode;
  opos::PrintProperties props;
  props.BinaryConversion = (pick >> 2) % 4;  // 3: not a conversion
  props.MapMode = 1 + ((pick >> 4) & 3);
  props.RotateSpecial = (pick & 0x40) ? PTR_RP_NORMAL + 1 : PTR_RP_NORMAL;
  props.RecLineChars = (pick & 0x80) ? 56 : 42;
  opos::BarCodeRequest request;
  const uint8_t fields = in.byte();
  request.station = (fields & 1) ? PTR_S_RECEIPT : PTR_S_RECEIPT << 1;
  // Mostly real symbologies, sometimes anything.
  request.symbology = (fields & 2) ? in.i32() : PTR_BCS_UPCA + in.byte() % 12;
  request.height = (fields & 4) ? in.i32() : in.byte();
  request.width = (fields & 8) ? in.i32() : in.byte() * 3;
  request.alignment = (fields & 16) ? in.i32() : PTR_BC_LEFT - in.byte() % 3;
  request.textPosition = (fields & 32) ? in.i32() : PTR_BC_TEXT_NONE - in.byte() % 3;
  const std::string text = in.rest();
  request.data = text;

  const opos::BarCodeCommand cmd = opos::BuildBarCodeCommand(profile, props, request);
  if (cmd.result != OPOS_SUCCESS) {
    check(cmd.result == OPOS_E_ILLEGAL && cmd.bytes.empty());
    return 0;
  }
  const std::string& b = cmd.bytes;
  check(b.size() >= 19);
  check(b.compare(0, 2, "\x1d\x66") == 0 && b.compare(3, 2, "\x1d\x77") == 0 &&
        b.compare(6, 2, "\x1d\x68") == 0 && b.compare(9, 2, "\x1b\x61") == 0 &&
        b.compare(12, 2, "\x1d\x48") == 0 && b.compare(15, 2, "\x1d\x6b") == 0);
  const uint8_t module = static_cast<uint8_t>(b[5]), height = static_cast<uint8_t>(b[8]);
  check(module >= 2 && module <= 6 && height >= 1);
  check(b.size() == 19 + static_cast<uint8_t>(b[18]));
  std::string converted;
  check(opos::ApplyBinaryConversion(props.BinaryConversion, text, converted) == OPOS_SUCCESS);
  const std::string sent = b.substr(19);
  // Text symbologies carry UTF-8 data in the printer's code page; plain
  // bytes pass as they are.
  const bool ascii = std::all_of(converted.begin(), converted.end(), [](char c) { return (c & 0x80) == 0; });
  if (ascii) check(sent == converted || (request.symbology == PTR_BCS_Code128 && sent == "{A" + converted));
  return 0;
}
