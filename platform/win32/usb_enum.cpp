// USB printers through the Setup API: the present interfaces of the USB
// printer class. The device path is the interface path Windows gives, which
// names vendor, product and the device instance.
#include "platform/usb_enum.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/win32/win_api.h"
// After windows.h, which it needs.
#include <setupapi.h>

namespace opos::usb {

namespace {

// GUID_DEVINTERFACE_USBPRINT
const GUID kUsbPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Four hex digits after key ("vid_") in a lower-case interface path.
std::string IdAfter(const std::string& path, const char* key) {
  const size_t at = path.find(key);
  return at == std::string::npos || at + 8 > path.size() ? std::string() : Upper(path.substr(at + 4, 4));
}

std::vector<std::string> PrinterInterfaces() {
  std::vector<std::string> paths;
  HDEVINFO set =
      SetupDiGetClassDevsA(&kUsbPrintInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA iface{};
  iface.cbSize = sizeof iface;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterface, i, &iface); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    std::vector<char> buf(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buf.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr)) {
      paths.emplace_back(detail->DevicePath);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  std::sort(paths.begin(), paths.end(),
            [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  return paths;
}

}  // namespace

std::string SysfsRoot() {
  return {};  // no sysfs: the Setup API lists the devices
}

std::vector<UsbPrinter> EnumerateMakerPrinters() {
  std::vector<UsbPrinter> printers;
  for (const std::string& path : PrinterInterfaces()) {
    const std::string lower = Lower(path);
    const std::string vid = IdAfter(lower, "vid_"), pid = IdAfter(lower, "pid_");
    for (const UsbId& id : kMakerPrinterIds) {
      if (vid == Upper(id.vendor) && pid == Upper(id.product)) {
        printers.push_back({path, path, vid, pid});
        break;
      }
    }
  }
  return printers;
}

int CountPresentDevices() {
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return 0;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  int count = 0;
  while (SetupDiEnumDeviceInfo(set, static_cast<DWORD>(count), &info)) ++count;
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

bool IsUsbDevicePath(const std::string& text) {
  return Lower(text).rfind("\\\\?\\usb#", 0) == 0;
}

std::string ResolveUsbDevicePath(const std::string& devicePath, std::string* error) {
  const bool drivePath = devicePath.size() > 2 && devicePath[1] == ':';
  if (drivePath || (devicePath.rfind("\\\\.\\", 0) == 0)) return devicePath;
  if (!IsUsbDevicePath(devicePath)) {
    if (error) *error = "\"" + devicePath + "\" is not a USB printer's device path";
    return {};
  }
  for (const std::string& path : PrinterInterfaces()) {
    if (Lower(path) == Lower(devicePath)) return path;
  }
  if (error) *error = "no USB printer is plugged in as " + devicePath;
  return {};
}

}  // namespace opos::usb
