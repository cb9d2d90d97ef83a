// C-style escapes in the tool's string arguments and JSON text for its output.
// Strings are 8-bit byte strings throughout; nothing is converted by locale.
#pragma once

#include <string>

namespace opos::tool {

// Decodes \xHH (one or two hex digits), \n, \r, \t, \0, \\ and \" in text.
// False with a message for any other escape or a lone backslash at the end.
bool DecodeEscapes(const std::string& text, std::string* out, std::string* error);

// text as a JSON string with its quotes: " and \ escaped, every byte outside
// printable ASCII as \u00XX (lowercase hex), so any byte string round-trips.
std::string JsonString(const std::string& text);

}  // namespace opos::tool
