// Small helpers shared by the virtual printer tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter_test {

using Bytes = std::vector<uint8_t>;

// "1B 45 30" -> {0x1B, 0x45, 0x30}.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  std::string token;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ' ') {
      if (!token.empty()) out.push_back(static_cast<uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
      token.clear();
    } else {
      token += text[i];
    }
  }
  return out;
}

inline Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Repeat(uint8_t b, size_t n) {
  return Bytes(n, b);
}

}  // namespace vprinter_test
