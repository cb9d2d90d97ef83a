// Print data translation: the PrintNormal data path (binary conversion, OPOS
// escape sequences, rotation hold-back) over fuzzed properties and a few calls
// in a row, plus both binary conversions as exact inverses of their encodings.
// A refused call leaves the translation state as it was; ValidateData agrees
// with PrintNormal; output stays within the generated-bytes bound.
#include <cstdio>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "fuzz/fuzz_input.h"
#include "printer/translate.h"

using fuzz::check;
using namespace opos;

namespace {

bool SameState(const opos::TranslationState& a, const opos::TranslationState& b) {
  return a.nRotateMode == b.nRotateMode && a.nRotatedMaxColumns == b.nRotatedMaxColumns &&
         a.nSavedColumn == b.nSavedColumn && a.bColumnCarry == b.bColumnCarry &&
         a.nRotatedExtraLines == b.nRotatedExtraLines && a.strRotatedPending == b.strRotatedPending;
}

// Nibble ("0x3h 0x3l" per byte, any high nibble) and decimal ("ddd", '^' for a
// leading zero) text decode back to exactly the bytes they encode.
void CheckConversions(const std::string& bytes, uint8_t style) {
  std::string nibble, decimal, out;
  for (unsigned char c : bytes) {
    const char high = (style & 1) ? 0x30 : 0x40;  // only the low nibble counts
    nibble += static_cast<char>(high | (c >> 4));
    nibble += static_cast<char>(high | (c & 0x0F));
    char group[4];
    std::snprintf(group, sizeof group, "%03u", c);
    if ((style & 2) && group[0] == '0') group[0] = '^';
    decimal.append(group, 3);
  }
  check(opos::ApplyBinaryConversion(OPOS_BC_NIBBLE, nibble, out) == OPOS_SUCCESS && out == bytes);
  check(opos::ApplyBinaryConversion(OPOS_BC_DECIMAL, decimal, out) == OPOS_SUCCESS && out == bytes);
  check(opos::ApplyBinaryConversion(OPOS_BC_NONE, bytes, out) == OPOS_SUCCESS && out == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t a = in.byte(), b = in.byte();
  const opos::TranslationProfile& profile = (a & 1) ? opos::kParallelTranslation : opos::kSerialTranslation;
  opos::PrintProperties props;
  props.BinaryConversion = (a >> 1) % 4;  // 3: refused
  props.MapMode = 1 + ((a >> 3) & 3);
  props.RecLineChars = (a & 0x20) ? 56 : 42;
  props.RecLineSpacing = b;
  props.RecLinesToPaperCut = b & 7;
  props.RotateSpecial = (a & 0x40) ? PTR_RP_NORMAL + 1 : PTR_RP_NORMAL;
  opos::TranslationState state;
  state.nRotateMode = (a >> 6) % 3;
  state.strTopLogo = in.bytes(32);
  state.strBottomLogo = in.bytes(32);

  // Up to four calls; the state carries over between them.
  for (int call = 0; call < 4 && !in.empty(); ++call) {
    const std::string text = in.bytes(1024);
    CheckConversions(text.substr(0, 64), b);
    opos::TranslationState scratch = state;
    const int32_t validated = opos::ValidatePrintData(profile, props, scratch, text);
    const opos::TranslationState before = state;
    const opos::PreparedPrint p = opos::PreparePrintNormal(profile, props, state, text);
    check(p.result == validated);
    if (p.result != OPOS_SUCCESS) {
      check(p.result == OPOS_E_ILLEGAL && p.bytes.empty());
      check(SameState(before, state));
      continue;
    }
    // Runaway output (a count or a logo repeated without bound) stays refused.
    const size_t inputs = text.size() + state.strTopLogo.size() + state.strBottomLogo.size() +
                          before.strRotatedPending.size() + 1;
    check(p.bytes.size() <= opos::kMaxGeneratedBytes + 64 * inputs);
  }
  return 0;
}
