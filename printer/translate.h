// Print data translation: the string argument of PrintNormal, PrintImmediate,
// ValidateData and SetLogo turned into ESC/POS bytes.
//
// Pure functions over plain structs: the printer object owns a
// TranslationState and hands in a PrintProperties snapshot of its properties;
// nothing here touches a port, a lock or a clock. All calls for one printer
// come from the Control Object's thread, so TranslationState needs no lock.
//
// Hooks left to the rest of the printer:
//  - Stored bitmaps: ESC|1B and ESC|2B are not translated. They reach the
//    output as the raw four bytes kStoredBitmap1Escape / kStoredBitmap2Escape
//    and SendOutput resolves them when the block is written (the image may
//    have to be downloaded first, which only the writer knows).
//  - Logos: ESC|tL and ESC|bL insert TranslationState::strTopLogo and
//    strBottomLogo as they stand; SetLogo stores there the output of
//    TranslatePrintData for the logo text.
//  - Translated output may contain 0x00: a zero produced by binary
//    conversion is data for the printer, not an end marker, so consumers
//    must use the length, never strlen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/opos.h"
#include "common/opos_ptr.h"

namespace opos {

// Where the libraries translate differently.
struct TranslationProfile {
  // Emitted for ESC|#rC (alternate colour).
  std::string_view alternateColor;
  // Appended after the last ESC 3 v LF of a unit feed (ESC|#uF).
  std::string_view afterUnitFeed;
};

inline constexpr TranslationProfile kSerialTranslation{{}, {}};
inline constexpr TranslationProfile kParallelTranslation{"\x1b\x72\x01", "\x1b\x33\x3c"};
inline constexpr TranslationProfile kUsbTranslation{"\x1b\x72\x01", "\x1b\x33\x3c"};

// The printer properties translation and barcodes read, copied by the caller
// for the duration of one call.
struct PrintProperties {
  int32_t BinaryConversion = OPOS_BC_NONE;
  int32_t MapMode = PTR_MM_DOTS;
  int32_t RecLineChars = 42;
  int32_t RecLineSpacing = 30;
  int32_t RecLinesToPaperCut = 5;
  int32_t RecLineWidth = 588;
  int32_t RotateSpecial = PTR_RP_NORMAL;
  uint8_t CodeTable = 0;  // ESC t table of CharacterSet: text is converted to it
};

// Per-printer fields that live between calls (created zeroed with the
// printer object).
struct TranslationState {
  int32_t nRotateMode = 0;         // 0 none, 1 left 90, 2 right 90 (RotatePrint)
  int32_t nRotatedMaxColumns = 0;  // longest line seen at a CR/LF
  int32_t nSavedColumn = 0;        // column reached at the end of a call
  bool bColumnCarry = false;       // next call starts at nSavedColumn
  int32_t nRotatedExtraLines = 0;  // 0..7 LFs put before the next rotated line
  std::string strRotatedPending;   // rotated output waiting for its line end
  std::string strTopLogo;          // set by SetLogo (already translated)
  std::string strBottomLogo;

  // What a successful ClaimDevice resets; logos survive a claim.
  void ResetForClaim() {
    nRotateMode = 0;
    bColumnCarry = false;
    strRotatedPending.clear();
  }
};

inline constexpr std::string_view kStoredBitmap1Escape{"\x1b|1B"};
inline constexpr std::string_view kStoredBitmap2Escape{"\x1b|2B"};

// Upper bound on the bytes that escape sequences may generate in one call
// (line feeds, unit feeds, logos). A count such as ESC|2000000000lF is a
// broken request, not a receipt; it is refused rather than allocated.
inline constexpr size_t kMaxGeneratedBytes = size_t{4} << 20;

// Length in MapMode units to dots, rounded half up (add 0.5, truncate). An
// unknown MapMode counts as dots. Saturates at the int32 range.
[[nodiscard]] int32_t ToDots(int32_t value, int32_t mapMode);

// Decodes the OPOS string argument by BinaryConversion into `out` (replaced).
// OPOS_E_ILLEGAL for an odd length with nibble conversion, a length not a
// multiple of 3 or a group that is not a number with decimal conversion, and
// an unknown BinaryConversion value; `out` is then empty.
[[nodiscard]] int32_t ApplyBinaryConversion(int32_t binaryConversion, std::string_view data,
                                            std::string& out);

// Translates OPOS escape sequences in `input` and appends the result to
// `output`. Updates the column and rotation bookkeeping of `state`.
// OPOS_SUCCESS, or OPOS_E_ILLEGAL when the sequences would generate more than
// kMaxGeneratedBytes; `output` and `state` are then left as they were.
[[nodiscard]] int32_t TranslatePrintData(const TranslationProfile& profile, const PrintProperties& props,
                                         TranslationState& state, std::string_view input,
                                         std::string& output);

// The reset prefix that starts the output of every print call.
[[nodiscard]] std::string_view ResetPrefix(int32_t recLineChars);

// The ESC 3 parameter for RecLineSpacing: twice the spacing in dots, 1..255.
[[nodiscard]] uint8_t LineSpacingParameter(const PrintProperties& props);

// Extra line feeds a rotated line needs for the tallest character height
// selected in `data` (0..7).
[[nodiscard]] int32_t ScanRotatedExtraLines(std::string_view data);

// PrintNormal / PrintImmediate data path after the claim and enable checks:
// binary conversion, translation, reset prefix, line spacing and the rotated
// hold-back. When `result` is OPOS_SUCCESS and `heldBack` is false, `bytes`
// goes to SendOutput(station, bytes, 0) and its result is the method's; when
// `heldBack` is true the method returns OPOS_SUCCESS without sending.
// PrintTwoNormal takes no data path: it always answers OPOS_E_ILLEGAL.
struct PreparedPrint {
  int32_t result = OPOS_SUCCESS;
  bool heldBack = false;
  std::string bytes;
};
[[nodiscard]] PreparedPrint PreparePrintNormal(const TranslationProfile& profile,
                                               const PrintProperties& props, TranslationState& state,
                                               std::string_view data);

// ValidateData after its claim and enable checks: conversion and translation
// into a scratch buffer (with the effects on the column fields); nothing is
// sent.
[[nodiscard]] int32_t ValidatePrintData(const TranslationProfile& profile, const PrintProperties& props,
                                        TranslationState& state, std::string_view data);

}  // namespace opos
