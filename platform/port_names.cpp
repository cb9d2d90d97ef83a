#include "platform/port_names.h"

#include <sys/stat.h>

#include <cstdlib>

namespace opos::platform {

namespace {

constexpr int kHighestPortNumber = 256;  // what Windows numbers COM ports up to

// "COM12" with prefix "COM" gives 12; 0 when the name is not prefix + number.
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

}  // namespace

std::string PortDirectory() {
  const char* dir = std::getenv("OPOS_PORT_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/etc/opos/ports";
}

std::string ResolvePortName(const std::string& portName) {
  if (!portName.empty() && portName[0] == '/') return portName;
  struct Kind {
    const char* prefix;
    const char* link;
    const char* device;
  };
  static const Kind kinds[] = {{"COM", "com", "/dev/ttyS"}, {"LPT", "lpt", "/dev/lp"}};
  for (const Kind& k : kinds) {
    int n = PortNumber(portName, k.prefix);
    if (n == 0) continue;
    std::string link = PortDirectory() + "/" + k.link + std::to_string(n);
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) return link;
    return k.device + std::to_string(n - 1);
  }
  return {};
}

}  // namespace opos::platform
