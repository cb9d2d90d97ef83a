#include "tools/opos/text_escapes.h"

namespace opos::tool {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool DecodeEscapes(const std::string& text, std::string* out, std::string* error) {
  std::string s;
  s.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      s.push_back(c);
      continue;
    }
    if (i + 1 >= text.size()) {
      *error = "a backslash ends the string";
      return false;
    }
    const char e = text[++i];
    switch (e) {
      case 'n':
        s.push_back('\n');
        break;
      case 'r':
        s.push_back('\r');
        break;
      case 't':
        s.push_back('\t');
        break;
      case '0':
        s.push_back('\0');
        break;
      case '\\':
        s.push_back('\\');
        break;
      case '"':
        s.push_back('"');
        break;
      case 'x': {
        int v = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        if (v < 0) {
          *error = "\\x needs one or two hex digits";
          return false;
        }
        ++i;
        const int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        if (low >= 0) {
          v = v * 16 + low;
          ++i;
        }
        s.push_back(static_cast<char>(v));
        break;
      }
      default:
        *error = std::string("unknown escape \\") + (e >= 0x20 && e < 0x7F ? std::string(1, e) : "?") +
                 " (known: \\xHH \\n \\r \\t \\0 \\\\ \\\")";
        return false;
    }
  }
  *out = std::move(s);
  return true;
}

std::string JsonString(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace opos::tool
