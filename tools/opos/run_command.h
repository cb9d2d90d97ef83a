// `opos run`, `opos print` and `opos drawer`: the commands that drive devices
// through the Control Objects.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "control/members.h"
#include "tools/opos/script.h"

namespace opos::tool {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Opens firstDevice, runs the checked commands in order, printing one JSON
// object per line on out for every call and every event, and closes every
// device still open at the end. Returns the exit status.
int RunScript(control::DeviceClass firstClass, const std::string& firstDevice,
              const std::vector<Command>& commands, FILE* out, FILE* err);

// The commands with their arguments (after the command word). Return the exit status.
int RunCommand(const std::vector<std::string>& args);
int PrintCommand(const std::vector<std::string>& args);
int DrawerCommand(const std::vector<std::string>& args);

}  // namespace opos::tool
