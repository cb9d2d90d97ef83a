// The machine's COM ports as the serial drivers publish them in
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (driver device name -> "COMn").
#include "platform/serial_enum.h"

#include <algorithm>

#include "platform/port_names.h"
#include "platform/win32/win_api.h"

namespace opos::platform {

std::vector<SerialDevice> EnumerateSerialDevices() {
  std::vector<SerialDevice> devices;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return devices;
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    BYTE data[256];
    DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
    const LONG rc = RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != 1 /* REG_SZ */) continue;
    data[dataLen] = 0;
    SerialDevice d;
    d.path = reinterpret_cast<const char*>(data);
    d.description = std::string(name, nameLen);
    devices.push_back(std::move(d));
  }
  RegCloseKey(key);
  // COM2 before COM10.
  std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
    return PortNumber(a.path, "COM") != PortNumber(b.path, "COM")
               ? PortNumber(a.path, "COM") < PortNumber(b.path, "COM")
               : a.path < b.path;
  });
  return devices;
}

}  // namespace opos::platform
