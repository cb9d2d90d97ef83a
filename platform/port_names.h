// Windows-style port names ("COM1", "LPT2") as the registry keeps them, and
// the device paths they stand for.
#pragma once

#include <string>

namespace opos::platform {

// The folder of port links: OPOS_PORT_DIR, else /etc/opos/ports.
std::string PortDirectory();

// The device path for a configured port name:
// - an absolute path is used as it stands;
// - "COMn" / "LPTn" (any letter case, n from 1 to 256) is the link comn / lptn
//   in PortDirectory() when one exists (even a dangling one: what the
//   installer set up wins), else /dev/ttyS(n-1) / /dev/lp(n-1).
// Any other name gives the empty string.
[[nodiscard]] std::string ResolvePortName(const std::string& portName);

}  // namespace opos::platform
