// The two OPOS device classes that the Control Objects serve.
#pragma once

#include <string>

#include "opos/api.h"

namespace opos::control {

enum class DeviceClass { POSPrinter, CashDrawer };

// "POSPrinter" or "CashDrawer", the OPOS device class names.
OPOS_CONTROL_API const char* DeviceClassName(DeviceClass c);
// Accepts the class names without regard to case; false for anything else.
OPOS_CONTROL_API bool ParseDeviceClass(const std::string& name, DeviceClass* out);
// HKLM key under which the class's device keys and logical names live.
OPOS_CONTROL_API const char* ClassKeyPath(DeviceClass c);

}  // namespace opos::control
