// Windows-style port names ("COM1", "LPT2") as the registry keeps them, and
// the device paths they stand for.
#pragma once

#include <string>

namespace opos::platform {

// "COM12" with prefix "COM" gives 12 (any letter case); 0 when the name is
// not prefix + number from 1 to 256.
[[nodiscard]] int PortNumber(const std::string& name, const char* prefix);

// The folder of port links: OPOS_PORT_DIR, else /etc/opos/ports.
std::string PortDirectory();

// The device path for a configured port name:
// - an absolute path is used as it stands;
// - "COMn" / "LPTn" (any letter case, n from 1 to 256) is the link comn / lptn
//   in PortDirectory() when one exists (even a dangling one: what the
//   installer set up wins), else /dev/ttyS(n-1) / /dev/lp(n-1).
// Any other name gives the empty string.
// On Windows "COMn" / "LPTn" is the device \\.\COMn / \\.\LPTn, and an
// absolute path (a drive path or a \\?\ device interface path) stands.
[[nodiscard]] std::string ResolvePortName(const std::string& portName);

}  // namespace opos::platform
