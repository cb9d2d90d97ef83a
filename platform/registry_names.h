// Key path and value name rules shared by the registry back ends: both refuse
// the same names with the same results.
#pragma once

#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace opos::reg {

// ASCII upper case: the registry's way of comparing names.
std::string Fold(const std::string& name);
// Splits a key path into its segments; false with the reason when it is not valid.
bool SplitPath(const std::string& path, std::vector<std::string>* segs, std::string* why);
bool ValidValueName(const std::string& name, std::string* why);

}  // namespace opos::reg
