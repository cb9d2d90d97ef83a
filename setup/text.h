// Small text helpers of the setup model. Registry and profile names compare
// without regard to ASCII case; text is kept as the bytes it was stored with.
#pragma once

#include <string>

namespace opos::setup {

bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWith(const std::string& text, const std::string& prefix);
std::string TrimSpaces(const std::string& text);  // blanks: space, tab, CR, LF
// Printable for a message: control bytes shown as \xNN.
std::string Printable(const std::string& text);
// First control byte (below 0x20, or 0x7F) in text, or npos.
size_t FindControlChar(const std::string& text);

}  // namespace opos::setup
