#include "platform/port_names.h"

namespace opos::platform {

constexpr int kHighestPortNumber = 256;  // what Windows numbers COM ports up to

int PortNumber(const std::string& name, const char* prefix) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    char c = name[static_cast<size_t>(i)];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return 0;
  }
  if (name[3] == '0') return 0;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= kHighestPortNumber ? n : 0;
}

}  // namespace opos::platform
