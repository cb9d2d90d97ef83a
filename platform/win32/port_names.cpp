#include "platform/port_names.h"

#include <cstdlib>

namespace opos::platform {

std::string PortDirectory() {
  // Windows names its ports itself; the folder only matters elsewhere.
  const char* dir = std::getenv("OPOS_PORT_DIR");
  return dir != nullptr ? dir : "";
}

std::string ResolvePortName(const std::string& portName) {
  const bool drivePath =
      portName.size() > 2 && portName[1] == ':' && (portName[2] == '\\' || portName[2] == '/');
  if (drivePath || portName.rfind("\\\\", 0) == 0) return portName;
  for (const char* prefix : {"COM", "LPT"}) {
    const int n = PortNumber(portName, prefix);
    if (n != 0) return std::string("\\\\.\\") + prefix + std::to_string(n);
  }
  return {};
}

}  // namespace opos::platform
