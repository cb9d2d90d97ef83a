#include "setup/mod_setup.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "setup/mod_regedit.h"
#include "setup/text.h"

namespace opos::setup::modSetup {
namespace {

constexpr const char kNotice[] = "Copyright (C) KELVORA Co., Ltd. All rights reserved.";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

const char* const kKnownTypes[] = {
    "QMT500S", "QMT500P", "QMT500U",  "Z9S",      "Z9P",           "Z9U",           "Z10S",
    "Z10P",    "Z10U",    "Z10PLUSS", "Z10PLUSP", "Z10PLUSU",      "PICORS",        "PICORP",
    "PICORU",  "Z7S",     "Z7P",      "Z7U",      "StandardCashS", "StandardCashP", "StandardCashU",
};

const char* const kUsbTypes[] = {"Z9U", "Z7U", "Z10U", "Z10PLUSU", "PICORU", "QMT500U", "StandardCashU"};

// As the add dialog lists them; the Z10PLUSU entry names base "Z10", so the
// Z10PLUS model's USB type is added without looking for a printer.
const std::pair<const char*, const char*> kUsbAddPairs[] = {
    {"QMT500U", "QMT500"},
    {"PICORU", "PICOR"},
    {"Z10PLUSU", "Z10"},
    {"Z10U", "Z10"},
    {"Z9U", "Z9"},
    {"Z7U", "Z7"},
    {"StandardCashU", "StandardCash"},
};

template <size_t N>
bool InList(const char* const (&list)[N], const std::string& name) {
  return std::any_of(std::begin(list), std::end(list), [&](const char* s) { return name == s; });
}

}  // namespace

// ---- Registry locations -------------------------------------------------------

bool IsDeviceClass(const std::string& deviceClass) {
  return deviceClass == kPrinterClass || deviceClass == kDrawerClass;
}

std::string ClassKeyPath(const std::string& deviceClass) {
  if (!IsDeviceClass(deviceClass)) return {};
  return std::string(kServiceRoot) + "\\" + deviceClass;
}

bool KeyExists(reg::Store& store, const std::string& path) {
  return modRegedit::KeyExists(store, path);
}

long DeleteKey(reg::Store& store, const std::string& path) {
  return modRegedit::DeleteKey(store, path);
}

// ---- Model definition files ---------------------------------------------------

const char* SectionName(Section section) {
  switch (section) {
    case Section::Serial:
      return "SINFO";
    case Section::Parallel:
      return "PINFO";
    case Section::Usb:
      return "UINFO";
  }
  return "";
}

std::optional<Section> SectionOfType(const std::string& deviceType) {
  if (deviceType.empty()) return std::nullopt;
  switch (deviceType.back()) {
    case 'S':
      return Section::Serial;
    case 'P':
      return Section::Parallel;
    case 'U':
      return Section::Usb;
    default:
      return std::nullopt;
  }
}

std::string CleanIniText(const std::string& raw) {
  std::string text = raw.substr(0, raw.find(';'));
  std::replace(text.begin(), text.end(), '\t', ' ');
  std::replace(text.begin(), text.end(), '"', ' ');
  size_t b = text.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = text.find_last_not_of(' ');
  return text.substr(b, e - b + 1);
}

std::optional<int32_t> ParseIniNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string whole;
  while (i < text.size() && IsDigit(text[i])) whole += text[i++];
  std::string fraction;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) fraction += text[i++];
  }
  if (whole.empty() && fraction.empty()) return 0;
  size_t firstNonZero = whole.find_first_not_of('0');
  whole = firstNonZero == std::string::npos ? "0" : whole.substr(firstNonZero);
  if (whole.size() > 10) return std::nullopt;
  int64_t value = std::stoll(whole);
  // Round on the decimal digits themselves: binary floating point would turn
  // some exact halves into near-halves.
  if (!fraction.empty()) {
    bool restNonZero = fraction.find_first_not_of('0', 1) != std::string::npos;
    char first = fraction[0];
    if (first > '5' || (first == '5' && restNonZero) || (first == '5' && value % 2 == 1)) {
      ++value;
    }
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

int32_t IniNumber(const std::string& text) {
  return ParseIniNumber(text).value_or(0);
}

std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key) {
  std::string raw;
  if (!file.Get(section, key, &raw)) return {};
  return CleanIniText(raw);
}

std::string ReadIniValue(const std::string& path, const std::string& section, const std::string& key) {
  std::string error;
  std::optional<IniFile> file = IniFile::Load(path, &error);
  if (!file) return {};
  return ReadIniValue(*file, section, key);
}

int32_t ReadCountNumber(const std::string& path) {
  return IniNumber(ReadIniValue(path, "MaxNumber", "CountNumber"));
}

// ---- Settings -----------------------------------------------------------------

std::vector<const Setting*> FileSettings(Section section, const std::string& deviceClass) {
  static const Setting* const kAll[] = {
      &kDeviceName, &kDeviceClass, &kDeviceDesc,     &kSOName,       &kZADConfig,    &kPort,
      &kBaudrate,   &kBitLength,   &kParity,         &kStop,         &kXonXoff,      &kHandShake,
      &kInputBuf,   &kOutputBuf,   &kTimeout,        &kPortShare,    &kBaudrateSel,  &kBitLengthSel,
      &kParitySel,  &kStopSel,     &kXonXoffSel,     &kHandShakeSel, &kIdleSleep,    &kInputSleep,
      &kImageSleep, &kOpenLevel,   &kConnectorPinNo, &kPulseOnTime,  &kPulseOffTime, &kVid,
      &kPid,
  };
  unsigned bit = section == Section::Serial ? kInS : section == Section::Parallel ? kInP : kInU;
  std::vector<const Setting*> out;
  for (const Setting* s : kAll) {
    if ((s->sections & bit) == 0) continue;
    if (s->drawerOnly && deviceClass != kDrawerClass) continue;
    out.push_back(s);
  }
  return out;
}

namespace {
bool SectionHolds(const Setting& setting, Section section) {
  unsigned bit = section == Section::Serial ? kInS : section == Section::Parallel ? kInP : kInU;
  return setting.fileKey != nullptr && (setting.sections & bit) != 0;
}
}  // namespace

std::string ReadFileText(const Setting& setting, const std::string& path, Section section) {
  if (!SectionHolds(setting, section)) return {};
  return ReadIniValue(path, SectionName(section), setting.fileKey);
}

int32_t ReadFileNumber(const Setting& setting, const std::string& path, Section section) {
  return IniNumber(ReadFileText(setting, path, section));
}

std::string ReadRegText(reg::Store& store, const std::string& keyPath, const Setting& setting) {
  if (setting.valueName == nullptr) return {};
  return modRegedit::GetStringValue(store, keyPath, setting.valueName);
}

int32_t ReadRegNumber(reg::Store& store, const std::string& keyPath, const Setting& setting) {
  if (setting.valueName == nullptr) return 0;
  return modRegedit::GetDwordValue(store, keyPath, setting.valueName);
}

std::string ReadRegText(const std::vector<reg::Value>& values, const Setting& setting) {
  if (setting.valueName == nullptr) return {};
  return modRegedit::StringOf(reg::FindValue(values, setting.valueName));
}

int32_t ReadRegNumber(const std::vector<reg::Value>& values, const Setting& setting) {
  if (setting.valueName == nullptr) return 0;
  return modRegedit::DwordOf(reg::FindValue(values, setting.valueName));
}

long WriteRegText(reg::Store& store, const std::string& keyPath, const Setting& setting,
                  const std::string& text) {
  if (setting.valueName == nullptr) return reg::kInvalidParameter;
  return modRegedit::SetStringValue(store, keyPath, setting.valueName, text);
}

long WriteRegNumber(reg::Store& store, const std::string& keyPath, const Setting& setting, int32_t value) {
  if (setting.valueName == nullptr) return reg::kInvalidParameter;
  return modRegedit::SetDwordValue(store, keyPath, setting.valueName, value);
}

std::string DescriptionForClass(const std::string& deviceClass) {
  if (deviceClass == kPrinterClass) {
    return std::string("KELVORA POS Printer OPOS Service Object, ") + kNotice;
  }
  if (deviceClass == kDrawerClass) {
    return std::string("KELVORA Cash Drawer OPOS Service Object, ") + kNotice;
  }
  return {};
}

std::string VersionForClass(const std::string& deviceClass) {
  return IsDeviceClass(deviceClass) ? "1.0" : "";
}

// ---- Coded choices --------------------------------------------------------------

const std::vector<CodeText>& ChoiceTable(Choice choice) {
  static const std::vector<CodeText> kBaud = {
      {4, "2400 bps"},  {5, "4800 bps"},  {6, "9600 bps"},    {7, "19200 bps"},
      {8, "38400 bps"}, {9, "57600 bps"}, {10, "115200 bps"},
  };
  static const std::vector<CodeText> kBits = {{0, "7 bit"}, {1, "8 bit"}};
  static const std::vector<CodeText> kParityTable = {{0, "NONE"}, {1, "EVEN"}, {2, "ODD"}};
  static const std::vector<CodeText> kStopTable = {{1, "1 bit"}};
  static const std::vector<CodeText> kHand = {{2, "DTR/DSR"}};
  switch (choice) {
    case Choice::Baudrate:
      return kBaud;
    case Choice::BitLength:
      return kBits;
    case Choice::Parity:
      return kParityTable;
    case Choice::Stop:
      return kStopTable;
    case Choice::HandShake:
      return kHand;
  }
  return kHand;
}

std::string ChoiceText(Choice choice, int32_t code) {
  for (const CodeText& ct : ChoiceTable(choice)) {
    if (ct.first == code) return ct.second;
  }
  return {};
}

int32_t ChoiceCode(Choice choice, const std::string& text) {
  for (const CodeText& ct : ChoiceTable(choice)) {
    if (ct.second == text) return ct.first;
  }
  return 0;
}

std::vector<CodeText> OfferList(Choice choice, const std::string& offerList) {
  std::vector<CodeText> offers;
  size_t pos = 0;
  while (pos <= offerList.size()) {
    size_t comma = offerList.find(',', pos);
    if (comma == std::string::npos) comma = offerList.size();
    std::string item = TrimSpaces(offerList.substr(pos, comma - pos));
    pos = comma + 1;
    bool whole = !item.empty() && std::all_of(item.begin(), item.end(), IsDigit) && item.size() <= 9;
    if (!whole) continue;
    int32_t code = std::stoi(item);
    std::string text = ChoiceText(choice, code);
    if (text.empty()) continue;
    bool repeated =
        std::any_of(offers.begin(), offers.end(), [code](const CodeText& ct) { return ct.first == code; });
    if (!repeated) offers.emplace_back(code, text);
  }
  return offers;
}

// ---- Model names --------------------------------------------------------------

bool IsKnownType(const std::string& deviceType) {
  return InList(kKnownTypes, deviceType);
}

bool IsUsbType(const std::string& deviceType) {
  return InList(kUsbTypes, deviceType);
}

bool IsUsbAddPair(const std::string& deviceType, const std::string& baseName) {
  return std::any_of(std::begin(kUsbAddPairs), std::end(kUsbAddPairs),
                     [&](const auto& p) { return deviceType == p.first && baseName == p.second; });
}

std::string TestPrintModelLine(const std::string& deviceType) {
  struct Line {
    const char* types[3];
    const char* model;
  };
  static const Line kLines[] = {
      {{"QMT500S", "QMT500P", "QMT500U"}, "QMT500"},
      {{"Z9S", "Z9P", "Z9U"}, "Z9"},
      {{"Z10S", "Z10P", "Z10U"}, "Z10"},
      {{"Z10PLUSS", "Z10PLUSP", "Z10PLUSU"}, "Z10PLUS"},
      {{"PICORS", "PICORP", "PICORU"}, "PICOR"},
      {{"Z7S", "Z7P", "Z7U"}, "Z7"},
  };
  for (const Line& line : kLines) {
    for (const char* t : line.types) {
      if (deviceType == t) return std::string("Device Name : ") + line.model;
    }
  }
  return {};
}

bool IsMakersDevice(const std::string& deviceClass, const std::string& zadConfig,
                    const std::string& description) {
  const std::string& tag = deviceClass == kDrawerClass ? description : zadConfig;
  return StartsWith(tag, "KELVORA");
}

bool HasMakersConfig(const std::string& zadConfig) {
  return StartsWith(zadConfig, "KELVORA");
}

}  // namespace opos::setup::modSetup
