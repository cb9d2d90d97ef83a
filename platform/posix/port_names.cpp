#include "platform/port_names.h"

#include <sys/stat.h>

#include <cstdlib>

namespace opos::platform {

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
