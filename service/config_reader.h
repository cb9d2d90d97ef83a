// Reads a device's configuration from the OPOS registry tree, as OpenService does.
#pragma once

#include <string>

#include "common/device_config.h"
#include "common/registry_keys.h"
#include "platform/registry_store.h"
#include "service/library_profile.h"

namespace opos {

// Registry primitives with the Service Objects' rules. A number is exactly four
// data bytes; anything else reads as the default.
int32_t ReadNumber(reg::Store& store, const std::string& path, const std::string& name, int32_t def);
// 1 and the text when present and shorter than 256 bytes; 0 with def otherwise.
int ReadString(reg::Store& store, const std::string& path, const std::string& name, const std::string& def,
               std::string* out);

// Device key path for deviceName (a logical name or a device key name), or ""
// when that key does not exist.
std::string ResolveDeviceKey(reg::Store& store, const std::string& classKey, const std::string& deviceName);

// Fills config from the device key; false when a required value is absent.
bool ReadDeviceConfig(reg::Store& store, const std::string& keyPath, TransportKind transport, bool drawer,
                      DeviceConfig* config);

}  // namespace opos
