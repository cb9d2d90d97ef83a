// Application text in the printer's code page.
//
// Applications hand the print methods UTF-8. The printer prints bytes in the
// code table selected by ESC t (CharacterSet), so text is converted to that
// table before translation. The rules, chosen so that no existing caller
// breaks:
//  - ASCII passes as it is (one scan; escape sequences are ASCII, so they are
//    never changed);
//  - data that is not valid UTF-8 as a whole passes as bytes: callers that
//    already send code-page bytes (or raw printer commands) keep working;
//  - a character the page lacks prints as '?';
//  - the Thai tables have no published mapping: their data passes as bytes.
// Binary-converted data (BinaryConversion 1 and 2) and DirectIO bytes are
// never text and never reach this conversion.
//
// Single-byte pages are generated tables (printer/code_page_tables.cpp); the
// double-byte pages (932, 936, 949, 950) go through glibc's iconv, opened per
// call that carries non-ASCII text, so no converter state is shared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "printer/translate.h"

namespace opos {

// Converts UTF-8 text in `bytes`, in place, to the code page of ESC t `table`.
void Utf8ToCodeTable(uint8_t table, std::string& bytes);

// True when `bytes` holds only ASCII.
[[nodiscard]] bool IsAscii(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
[[nodiscard]] bool IsValidUtf8(std::string_view bytes);

// A print method's string argument as printer bytes: decoded by
// BinaryConversion, or, without binary conversion, text converted to the
// code table in props.CodeTable. Results as ApplyBinaryConversion.
[[nodiscard]] int32_t PrintArgumentBytes(const PrintProperties& props, std::string_view data,
                                         std::string& out);

}  // namespace opos
