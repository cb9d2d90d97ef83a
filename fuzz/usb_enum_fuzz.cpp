// USB enumeration over a sysfs tree generated from the input (in a memory
// file system): device folders with fuzzed socket numbers, vendor and product
// files (the maker's IDs in any case and spacing, or anything), interface
// folders with lp nodes, and stray entries. The scan finds exactly the
// maker's devices, ordered by socket, and each resolves to its lowest lp node
// or to a clear reason.
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "fuzz/fuzz_input.h"
#include "platform/usb_enum.h"

using fuzz::check;
namespace fs = std::filesystem;

namespace {

struct Expected {
  std::vector<unsigned long> numbers;
  std::string lowestLp;  // empty: no printer driver bound
};

const fs::path& Root() {
  static const fs::path root = [] {
    fs::path r = fs::path(fuzz::ScratchDir()) / "sys";
    setenv("OPOS_SYSFS_ROOT", r.c_str(), 1);
    setenv("OPOS_USB_DEV_DIR", "/dev/usb", 1);
    return r;
  }();
  return root;
}

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string Id(fuzz::Input& in, const char* maker, bool* isMaker) {
  const uint8_t how = in.byte();
  *isMaker = how < 0xC0;
  if (!*isMaker) return in.bytes(8);
  std::string id = maker;
  if (how & 1) std::transform(id.begin(), id.end(), id.begin(), ::toupper);
  return (how & 2 ? " " : "") + id + (how & 4 ? "\n" : "") + (how & 8 ? "\t\n" : "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path devices = Root() / "bus" / "usb" / "devices";
  std::error_code ec;
  fs::remove_all(Root(), ec);
  fs::create_directories(devices);
  fuzz::Input in(data, size);
  std::map<std::string, Expected> makers;
  for (int n = 0; n < 4 && !in.empty(); ++n) {
    const uint8_t kind = in.byte();
    if (kind >= 0xE0) {  // a stray entry: root hub, odd name, a plain file
      std::string name = in.bytes(12);
      std::replace(name.begin(), name.end(), '/', '_');
      std::replace(name.begin(), name.end(), '\0', '_');
      if (name.empty() || name == "." || name == "..") name = "usb1";
      if (std::isdigit(static_cast<unsigned char>(name[0]))) name.insert(0, "x");  // never a socket
      if (kind & 1)
        fs::create_directories(devices / name, ec);
      else
        Write(devices / name, "x");
      continue;
    }
    Expected e;
    std::string name = std::to_string(1 + kind % 4);
    const int depth = 1 + in.byte() % 4;
    e.numbers.push_back(1 + kind % 4);
    for (int d = 0; d < depth; ++d) {
      const unsigned long port = 1 + in.byte() % 12;
      e.numbers.push_back(port);
      name += (d == 0 ? "-" : ".") + std::to_string(port);
    }
    if (makers.count(name) || fs::exists(devices / name)) continue;
    fs::create_directories(devices / name);
    const auto& pair = opos::usb::kMakerPrinterIds[in.byte() % std::size(opos::usb::kMakerPrinterIds)];
    bool vendorOk = false, productOk = false;
    Write(devices / name / "idVendor", Id(in, pair.vendor, &vendorOk));
    Write(devices / name / "idProduct", Id(in, pair.product, &productOk));
    const uint8_t lps = in.byte() % 4;
    for (uint8_t i = 0; i < lps; ++i) {
      const std::string lp = "lp" + std::to_string(in.byte() % 20);
      fs::create_directories(devices / (name + ":1." + std::to_string(i)) / "usbmisc" / lp);
      if (e.lowestLp.empty() || lp < e.lowestLp) e.lowestLp = lp;
    }
    if (vendorOk && productOk) makers[name] = e;
  }

  const std::vector<opos::usb::UsbPrinter> found = opos::usb::EnumerateMakerPrinters();
  std::vector<std::pair<std::vector<unsigned long>, std::string>> want;
  for (const auto& [name, e] : makers) want.push_back({e.numbers, name});
  std::sort(want.begin(), want.end());
  // Fuzzed IDs may still spell a maker's pair: those show up as extra finds only.
  size_t w = 0;
  for (const opos::usb::UsbPrinter& p : found) {
    check(p.devicePath == "usb:" + p.sysfsName && opos::usb::IsUsbDevicePath(p.devicePath));
    if (w < want.size() && p.sysfsName == want[w].second) ++w;
    std::string why;
    const std::string node = opos::usb::ResolveUsbDevicePath(p.devicePath, &why);
    const auto m = makers.find(p.sysfsName);
    if (m != makers.end())
      check(m->second.lowestLp.empty() ? node.empty() && !why.empty()
                                       : node == "/dev/usb/" + m->second.lowestLp);
  }
  check(w == want.size());
  check(opos::usb::CountPresentDevices() >= static_cast<int>(found.size()));
  // Any text as a device path: a clear answer either way.
  std::string why;
  const std::string odd = "usb:" + in.rest();
  if (opos::usb::ResolveUsbDevicePath(odd, &why).empty()) check(!why.empty());
  return 0;
}
