#include "setup/model_catalog.h"

#include "platform/regular_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "setup/ini_file.h"
#include "setup/mod_setup.h"
#include "setup/text.h"

namespace fs = std::filesystem;

namespace opos::setup {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool MatchesPattern(const std::string& fileName, const std::string& deviceClass) {
  std::string lower = Lower(fileName);
  if (deviceClass == modSetup::kPrinterClass) {
    return lower.size() >= 7 && StartsWith(lower, "klp") && lower.compare(lower.size() - 4, 4, ".inf") == 0;
  }
  if (deviceClass == modSetup::kDrawerClass) return lower == "cashdrawer.inf";
  return false;
}

}  // namespace

std::string ProgramDirectory() {
  return platform::ProgramDirectory();
}

std::string DefaultModelDirectory() {
  const std::string bin = ProgramDirectory();
  if (bin.empty()) return bin;
  std::error_code ec;
  const fs::path installed = fs::path(bin) / OPOS_MODELS_FROM_BIN;
  if (fs::is_directory(installed, ec)) return installed.lexically_normal().string();
  return bin;
}

std::vector<BaseModel> ListBaseModels(const std::string& dir, const std::string& deviceClass,
                                      std::vector<std::string>* problems) {
  std::vector<std::string> files;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    problems->push_back("cannot read the model directory \"" + dir + "\": " + ec.message());
    return {};
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (MatchesPattern(name, deviceClass)) files.push_back(name);
  }
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    std::string la = Lower(a), lb = Lower(b);
    return la != lb ? la < lb : a < b;
  });
  std::vector<BaseModel> models;
  for (const std::string& name : files) {
    std::string path = (fs::path(dir) / name).string();
    std::string error;
    std::optional<IniFile> file = IniFile::Load(path, &error);
    if (!file) {
      problems->push_back("model file " + error);
      continue;
    }
    std::string type = modSetup::ReadIniValue(*file, "SINFO", "DeviceName");
    if (type.size() < 2) {
      problems->push_back("model file \"" + path + "\" names no [SINFO] DeviceName; left out");
      continue;
    }
    models.push_back({type.substr(0, type.size() - 1), path});
  }
  return models;
}

std::vector<std::string> ListModelTypes(const std::string& path, std::string* error) {
  std::optional<IniFile> file = IniFile::Load(path, error);
  if (!file) {
    *error = "model file " + *error;
    return {};
  }
  const bool z7 = Lower(fs::path(path).filename().string()) == "klp_z7.inf";
  const std::vector<modSetup::Section> order =
      z7 ? std::vector<modSetup::Section>{modSetup::Section::Serial, modSetup::Section::Usb}
         : std::vector<modSetup::Section>{modSetup::Section::Serial, modSetup::Section::Parallel,
                                          modSetup::Section::Usb};
  std::string countText = modSetup::ReadIniValue(*file, "MaxNumber", "CountNumber");
  int32_t count = modSetup::IniNumber(countText);
  if (count < 1 || static_cast<size_t>(count) > order.size()) {
    *error = "model file \"" + path + "\": [MaxNumber] CountNumber \"" + countText + "\" is not 1 to " +
             std::to_string(order.size());
    return {};
  }
  std::vector<std::string> types;
  for (int32_t i = 0; i < count; ++i) {
    const char* section = modSetup::SectionName(order[static_cast<size_t>(i)]);
    std::string type = modSetup::ReadIniValue(*file, section, "DeviceName");
    if (modSetup::SectionOfType(type) != order[static_cast<size_t>(i)] || type.size() < 2) {
      *error = "model file \"" + path + "\": [" + section + "] DeviceName \"" + type +
               "\" is not a type of that section (ending in " + std::string(1, section[0]) + ")";
      return {};
    }
    types.push_back(type);
  }
  return types;
}

std::vector<std::string> UsbPortNames(int32_t n) {
  std::vector<std::string> names;
  for (int32_t i = 1; i <= n; ++i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "USB%03d", static_cast<int>(i));
    names.emplace_back(buf);
  }
  return names;
}

TypeRule ApplyTypeRule(const std::string& deviceType, const std::string& baseName,
                       int32_t presentUsbPrinters) {
  TypeRule rule;
  if (!modSetup::IsUsbAddPair(deviceType, baseName)) return rule;
  rule.needsUsb = true;
  // The port names have three digits: 100 printers or more cannot be listed.
  if (presentUsbPrinters > 0 && presentUsbPrinters < 100) {
    rule.ports = UsbPortNames(presentUsbPrinters);
  } else {
    rule.canAdd = false;
    rule.message = kNoUsbDeviceMessage;
  }
  return rule;
}

}  // namespace opos::setup
