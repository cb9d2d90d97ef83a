#include "platform/usb_enum.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace opos::usb {
namespace {

constexpr const char kPrefix[] = "usb:";

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? std::string(v) : std::string(fallback);
}

fs::path DevicesDir() {
  return fs::path(SysfsRoot()) / "bus" / "usb" / "devices";
}

// Parses a sysfs USB device name "B-P[.P...]" into its numbers; false for
// anything else (interfaces "1-1:1.0", root hubs "usb1", stray names).
bool ParseDeviceName(const std::string& name, std::vector<unsigned long>* numbers) {
  numbers->clear();
  size_t i = 0;
  bool sawDash = false;
  while (i < name.size()) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    size_t start = i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
    if (i - start > 6) return false;  // no bus or port number is that long
    numbers->push_back(std::stoul(name.substr(start, i - start)));
    if (i == name.size()) break;
    char sep = name[i];
    if (sep == '-' && !sawDash && numbers->size() == 1) {
      sawDash = true;
    } else if (sep != '.' || !sawDash) {
      return false;
    }
    ++i;
    if (i == name.size()) return false;  // trailing separator
  }
  return sawDash && numbers->size() >= 2;
}

// First line of a small sysfs attribute file, trimmed; empty when unreadable.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  size_t start = 0;
  while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
  return line.substr(start);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsMakerId(const std::string& vendor, const std::string& product) {
  for (const UsbId& id : kMakerPrinterIds) {
    if (vendor == id.vendor && product == id.product) return true;
  }
  return false;
}

// "lp" followed by digits only.
bool IsLpName(const std::string& name) {
  if (name.size() < 3 || name.compare(0, 2, "lp") != 0) return false;
  return std::all_of(name.begin() + 2, name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::string SysfsRoot() {
  return EnvOr("OPOS_SYSFS_ROOT", "/sys");
}

int CountPresentDevices() {
  int count = 0;
  std::error_code ec;
  fs::directory_iterator bus(fs::path(SysfsRoot()) / "bus", ec);
  if (ec) return 0;
  for (; bus != fs::directory_iterator(); bus.increment(ec)) {
    if (ec) break;
    std::error_code ec2;
    fs::directory_iterator dev(bus->path() / "devices", ec2);
    if (ec2) continue;
    for (; dev != fs::directory_iterator(); dev.increment(ec2)) {
      if (ec2) break;
      ++count;
    }
  }
  return count;
}

bool IsUsbDevicePath(const std::string& text) {
  if (text.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) return false;
  std::vector<unsigned long> numbers;
  return ParseDeviceName(text.substr(sizeof(kPrefix) - 1), &numbers);
}

std::vector<UsbPrinter> EnumerateMakerPrinters() {
  struct Found {
    std::vector<unsigned long> order;
    UsbPrinter printer;
  };
  std::vector<Found> found;
  std::error_code ec;
  fs::directory_iterator it(DevicesDir(), ec);
  if (ec) return {};
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    std::vector<unsigned long> numbers;
    if (!ParseDeviceName(name, &numbers)) continue;
    std::string vendor = Lower(ReadAttribute(it->path() / "idVendor"));
    std::string product = Lower(ReadAttribute(it->path() / "idProduct"));
    if (!IsMakerId(vendor, product)) continue;
    found.push_back({numbers, {kPrefix + name, name, Upper(vendor), Upper(product)}});
  }
  // Directory order is whatever the file system gives; sort by socket instead.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.order < b.order; });
  std::vector<UsbPrinter> result;
  result.reserve(found.size());
  for (Found& f : found) result.push_back(std::move(f.printer));
  return result;
}

std::string ResolveUsbDevicePath(const std::string& devicePath, std::string* error) {
  auto fail = [error](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return std::string();
  };
  if (!devicePath.empty() && devicePath[0] == '/') return devicePath;
  if (!IsUsbDevicePath(devicePath)) {
    return fail("\"" + devicePath + "\" is not a USB device path (expected usb:BUS-PORT[.PORT...])");
  }
  const std::string name = devicePath.substr(sizeof(kPrefix) - 1);
  const fs::path devices = DevicesDir();
  std::error_code ec;
  if (!fs::exists(devices / name, ec)) {
    return fail("no USB device is plugged into socket " + name);
  }
  // The printer driver hangs its node under the interface: NAME:CONFIG.IF/usbmisc/lpN.
  std::vector<std::string> nodes;
  const std::string interfacePrefix = name + ":";
  fs::directory_iterator it(devices, ec);
  if (ec) return fail("cannot read " + devices.string() + ": " + ec.message());
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string entry = it->path().filename().string();
    if (entry.compare(0, interfacePrefix.size(), interfacePrefix) != 0) continue;
    std::error_code ec2;
    fs::directory_iterator misc(it->path() / "usbmisc", ec2);
    if (ec2) continue;
    for (; misc != fs::directory_iterator(); misc.increment(ec2)) {
      if (ec2) break;
      std::string node = misc->path().filename().string();
      if (IsLpName(node)) nodes.push_back(node);
    }
  }
  if (nodes.empty()) {
    return fail("the USB device in socket " + name + " has no printer driver bound (no usbmisc/lpN)");
  }
  std::sort(nodes.begin(), nodes.end());
  return EnvOr("OPOS_USB_DEV_DIR", "/dev/usb") + "/" + nodes.front();
}

}  // namespace opos::usb
