// `opos reg ...` (read and write the registry store, like Windows' reg) and
// `opos regsvr LIBRARY` (register a Service Object library).
#pragma once

#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace opos::tool {

// "HKLM\path", "HKCR\path" or the long root names, any case; "HKLM" or "HKLM\"
// alone is the root itself. False with a message for anything else.
bool ParseKeyArgument(const std::string& text, reg::Root* root, std::string* path, std::string* error);

// Arguments after "reg" / "regsvr"; storePath is the store to use. Return the exit status.
int RegCommand(const std::vector<std::string>& args, const std::string& storePath);
int RegsvrCommand(const std::vector<std::string>& args, const std::string& storePath);

}  // namespace opos::tool
