// USB enumeration over a sysfs tree generated from the input (in a memory
// file system): device folders with fuzzed socket numbers, vendor and product
// files (the maker's IDs in any case and spacing, or anything), interface
// folders with lp nodes, and stray entries. The scan finds exactly the
// maker's devices, ordered by socket, and each resolves to its lowest lp node
// or to a clear reason.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "fuzz/fuzz_input.h"
#include "platform/usb_enum.h"

using fuzz::check;
namespace fs = std::filesystem;

namespace {

struct Expected {
  std::vector<unsigned long> numbers;
  std::string lowestLp;  // empty: no printer driver bound
};

const std::string& Devices() {
  static const std::string devices = [] {
    const std::string root = fuzz::ScratchDir() + "/sys";
    setenv("OPOS_SYSFS_ROOT", root.c_str(), 1);
    setenv("OPOS_USB_DEV_DIR", "/dev/usb", 1);
    fs::create_directories(root + "/bus/usb/devices");
    return root + "/bus/usb/devices";
  }();
  return devices;
}

// The tree below the devices folder: relative path -> file text, or no text
// for a folder. A parent sorts before its children.
using Tree = std::map<std::string, std::optional<std::string>>;

// The tree on disk, kept outside the heap: what an input allocates it frees,
// else libFuzzer runs it again to look for a leak.
struct Laid {
  struct Entry {
    char name[64];
    char text[16];
    size_t textSize;
    bool file;
  } entries[64];
  size_t count = 0;

  Tree Get() const {
    Tree tree;
    for (size_t i = 0; i < count; ++i) {
      const Entry& e = entries[i];
      tree.emplace(e.name,
                   e.file ? std::optional<std::string>(std::in_place, e.text, e.textSize) : std::nullopt);
    }
    return tree;
  }
  void Set(const Tree& tree) {
    check(tree.size() <= std::size(entries));
    count = 0;
    for (const auto& [name, text] : tree) {
      Entry& e = entries[count++];
      check(name.size() < sizeof e.name && (!text || text->size() <= sizeof e.text));
      std::memcpy(e.name, name.c_str(), name.size() + 1);
      e.file = text.has_value();
      e.textSize = text ? text->size() : 0;
      if (text) std::memcpy(e.text, text->data(), text->size());
    }
  }
};

// Turns the tree on disk from the last input's into this one's, touching only
// what differs: most inputs share most of their tree with the one before.
void Lay(Laid& laid, const Tree& want) {
  const Tree was = laid.Get();
  const std::string& base = Devices();
  for (auto it = was.rbegin(); it != was.rend(); ++it) {
    const auto w = want.find(it->first);
    if (w != want.end() && w->second.has_value() == it->second.has_value()) continue;
    const std::string path = base + "/" + it->first;
    check((it->second ? ::unlink(path.c_str()) : ::rmdir(path.c_str())) == 0);
  }
  for (const auto& [name, text] : want) {
    const auto w = was.find(name);
    const bool kept = w != was.end() && w->second.has_value() == text.has_value();
    if (kept && w->second == text) continue;
    const std::string path = base + "/" + name;
    if (!text) {
      check(::mkdir(path.c_str(), 0755) == 0);
      continue;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0);
    check(::write(fd, text->data(), text->size()) == static_cast<ssize_t>(text->size()));
    ::close(fd);
  }
  laid.Set(want);
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
  static Laid laid;
  Tree tree;
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
      tree.emplace(name, kind & 1 ? std::nullopt : std::optional<std::string>("x"));
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
    if (!tree.emplace(name, std::nullopt).second) continue;
    const auto& pair = opos::usb::kMakerPrinterIds[in.byte() % std::size(opos::usb::kMakerPrinterIds)];
    bool vendorOk = false, productOk = false;
    tree.emplace(name + "/idVendor", Id(in, pair.vendor, &vendorOk));
    tree.emplace(name + "/idProduct", Id(in, pair.product, &productOk));
    const uint8_t lps = in.byte() % 4;
    for (uint8_t i = 0; i < lps; ++i) {
      const std::string lp = "lp" + std::to_string(in.byte() % 20);
      const std::string interface = name + ":1." + std::to_string(i);
      tree.emplace(interface, std::nullopt);
      tree.emplace(interface + "/usbmisc", std::nullopt);
      tree.emplace(interface + "/usbmisc/" + lp, std::nullopt);
      if (e.lowestLp.empty() || lp < e.lowestLp) e.lowestLp = lp;
    }
    if (vendorOk && productOk) makers[name] = e;
  }
  Lay(laid, tree);

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
