// Finding a device's key and its Service Object's ProgID in the OPOS registry
// tree, by device key name or logical device name. The lookup follows the rules
// by which the Service Object resolves the same name in OpenService, so that
// both sides arrive at the same key. It never writes to the store.
#pragma once

#include <string>

#include "control/members.h"
#include "platform/registry_store.h"

namespace opos::control {

struct DeviceEntry {
  std::string keyPath;  // below HKLM
  std::string progId;   // the device key's default value
};

// False with a message in *error when the name leads to no key or the key
// names no ProgID.
bool FindDevice(reg::Store& store, DeviceClass c, const std::string& deviceName, DeviceEntry* out,
                std::string* error);

}  // namespace opos::control
