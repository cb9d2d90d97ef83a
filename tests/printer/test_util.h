#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

namespace opos::test {

inline std::string B(std::initializer_list<uint8_t> bytes) {
  std::string s;
  for (uint8_t b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

// Readable form for failure messages: printable bytes as they are, others hex.
inline std::string Hex(const std::string& s) {
  std::string out;
  char buf[8];
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace opos::test
