#include "platform/usb_enum.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace opos::usb {
namespace {

constexpr const char kPrefix[] = "usb:";

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v != nullptr && *v != '\0') ? std::string(v) : std::string(fallback);
}

std::string DevicesDir() {
  return SysfsRoot() + "/bus/usb/devices";
}

// The entry names of a folder but "." and ".."; false when it cannot be read.
// Plain calls: a scan reads every device folder, and does so often.
bool ListFolder(const std::string& dir, std::vector<std::string>* names) {
  names->clear();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->emplace_back(e->d_name);
  }
  ::closedir(d);
  return true;
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
// An attribute is at most a page; a longer first line is none of ours.
std::string ReadAttribute(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buf[4097];
  size_t got = 0;
  ssize_t n;
  while (got < sizeof buf && (n = ::read(fd, buf + got, sizeof buf - got)) > 0) got += static_cast<size_t>(n);
  ::close(fd);
  const char* end = static_cast<const char*>(std::memchr(buf, '\n', got));
  if (end == nullptr && got == sizeof buf) return {};
  std::string line(buf, end != nullptr ? static_cast<size_t>(end - buf) : got);
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
  const std::string root = SysfsRoot() + "/bus";
  std::vector<std::string> buses, devices;
  if (!ListFolder(root, &buses)) return 0;
  for (const std::string& bus : buses) {
    if (ListFolder(root + "/" + bus + "/devices", &devices)) count += static_cast<int>(devices.size());
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
  const std::string devices = DevicesDir();
  std::vector<std::string> names;
  if (!ListFolder(devices, &names)) return {};
  for (const std::string& name : names) {
    std::vector<unsigned long> numbers;
    if (!ParseDeviceName(name, &numbers)) continue;
    std::string vendor = Lower(ReadAttribute(devices + "/" + name + "/idVendor"));
    std::string product = Lower(ReadAttribute(devices + "/" + name + "/idProduct"));
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
  const std::string devices = DevicesDir();
  struct stat st {};
  if (::stat((devices + "/" + name).c_str(), &st) != 0) {
    return fail("no USB device is plugged into socket " + name);
  }
  // The printer driver hangs its node under the interface: NAME:CONFIG.IF/usbmisc/lpN.
  std::vector<std::string> nodes, entries, misc;
  const std::string interfacePrefix = name + ":";
  if (!ListFolder(devices, &entries)) return fail("cannot read " + devices + ": " + std::strerror(errno));
  for (const std::string& entry : entries) {
    if (entry.compare(0, interfacePrefix.size(), interfacePrefix) != 0) continue;
    if (!ListFolder(devices + "/" + entry + "/usbmisc", &misc)) continue;
    for (const std::string& node : misc) {
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
