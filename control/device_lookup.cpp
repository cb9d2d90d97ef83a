#include "control/device_lookup.h"

namespace opos::control {

using reg::Root;

namespace {
// The Service Object reads strings into a 256-byte buffer; a longer logical
// name value counts as absent there, so it must here too.
constexpr size_t kStringBuffer = 256;
}  // namespace

bool FindDevice(reg::Store& store, DeviceClass c, const std::string& deviceName, DeviceEntry* out,
                std::string* error) {
  const std::string classKey = ClassKeyPath(c);
  const std::string className = DeviceClassName(c);
  if (deviceName.empty()) {
    *error = "no device name given";
    return false;
  }
  std::string physical = deviceName;
  bool logical = false;
  reg::Value v;
  if (store.QueryValue(Root::LocalMachine, classKey, deviceName, &v) == reg::kOk &&
      v.data.size() <= kStringBuffer) {
    const std::string text = reg::SzText(v.data);
    if (!text.empty()) {
      physical = text;
      logical = true;
    }
  }
  // A backslash would address a key outside the class key.
  if (physical.find('\\') != std::string::npos) {
    *error = "device name \"" + physical + "\" holds a backslash";
    return false;
  }
  const std::string keyPath = classKey + "\\" + physical;
  if (store.KeyExists(Root::LocalMachine, keyPath) != reg::kOk) {
    *error = logical ? "logical name \"" + deviceName + "\" points to " + className + " device \"" +
                           physical + "\", which has no key"
                     : "no " + className + " device or logical name \"" + deviceName + "\"";
    return false;
  }
  reg::Value def;
  if (store.QueryValue(Root::LocalMachine, keyPath, "", &def) != reg::kOk ||
      (def.type != reg::REG_SZ && def.type != reg::REG_EXPAND_SZ) || reg::SzText(def.data).empty()) {
    *error = "device key HKLM\\" + keyPath + " names no Service Object (its default value is not a ProgID)";
    return false;
  }
  out->keyPath = keyPath;
  out->progId = reg::SzText(def.data);
  return true;
}

}  // namespace opos::control
