#include "platform/serial_enum.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/usb_enum.h"

namespace opos::platform {

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// "ttyUSB10" sorts after "ttyUSB9".
bool NameBefore(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t i = s.find_first_of("0123456789");
    if (i == std::string::npos) return std::pair<std::string, long>(s, -1);
    return std::pair<std::string, long>(s.substr(0, i), std::strtol(s.c_str() + i, nullptr, 10));
  };
  return split(a) < split(b);
}

// The USB device above a tty's interface: the nearest folder with idVendor.
void FillUsbDetails(const fs::path& ttyDir, SerialDevice* out) {
  std::error_code ec;
  fs::path at = fs::canonical(ttyDir / "device", ec);
  for (int up = 0; !ec && up < 4 && !at.empty(); ++up, at = at.parent_path()) {
    if (!fs::exists(at / "idVendor", ec)) continue;
    out->vendorId = FirstLine(at / "idVendor");
    out->productId = FirstLine(at / "idProduct");
    std::string maker = FirstLine(at / "manufacturer"), product = FirstLine(at / "product");
    out->description = maker.empty() ? product : product.empty() ? maker : maker + " " + product;
    return;
  }
}

}  // namespace

std::vector<SerialDevice> EnumerateSerialDevices() {
  std::vector<SerialDevice> found;
  const fs::path ttys = fs::path(usb::SysfsRoot()) / "class" / "tty";
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(ttys, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end(), NameBefore);

  const char* byIdEnv = std::getenv("OPOS_SERIAL_BY_ID_DIR");
  const fs::path byIdDir = byIdEnv != nullptr && *byIdEnv != '\0' ? byIdEnv : "/dev/serial/by-id";
  std::vector<std::pair<std::string, std::string>> links;  // (target name, link path)
  for (fs::directory_iterator it(byIdDir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code ec2;
    const fs::path target = fs::read_symlink(it->path(), ec2);
    if (!ec2) links.emplace_back(target.filename().string(), it->path().string());
  }
  std::sort(links.begin(), links.end());

  for (const std::string& name : names) {
    SerialDevice d;
    d.path = "/dev/" + name;
    if (name.rfind("ttyS", 0) == 0) {
      // Every legacy port has a node; only a probed UART has a type.
      const std::string type = FirstLine(ttys / name / "type");
      if (type.empty() || type == "0") continue;
      d.description = "UART";
    } else {
      FillUsbDetails(ttys / name, &d);
    }
    for (const auto& [target, link] : links) {
      if (target == name) d.byId.push_back(link);
    }
    found.push_back(std::move(d));
  }
  return found;
}

}  // namespace opos::platform
