// modSetup: the per-device settings, how each is read from a model definition
// file and from and to the registry, the coded choices of the settings dialog,
// and the model names the tool knows by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/registry_keys.h"
#include "platform/registry_store.h"
#include "setup/ini_file.h"

namespace opos::setup::modSetup {

// ---- Registry locations -------------------------------------------------------

inline constexpr const char kPrinterClass[] = "POSPrinter";
inline constexpr const char kDrawerClass[] = "CashDrawer";
inline constexpr const char* kServiceRoot = kServiceOposKey;
inline constexpr const char* kScratchKey = kSetupScratchKey;

bool IsDeviceClass(const std::string& deviceClass);
// Class key path of "POSPrinter" / "CashDrawer"; empty for any other name.
std::string ClassKeyPath(const std::string& deviceClass);

bool KeyExists(reg::Store& store, const std::string& path);
long DeleteKey(reg::Store& store, const std::string& path);

// ---- Model definition files ---------------------------------------------------

enum class Section { Serial, Parallel, Usb };
const char* SectionName(Section section);  // "SINFO", "PINFO", "UINFO"
// Section of a device type by its last character ('S', 'P', 'U').
std::optional<Section> SectionOfType(const std::string& deviceType);

// The comment, tab, quote and trim rules applied to a raw profile value.
std::string CleanIniText(const std::string& raw);
// The leading decimal number of text rounded to an integer, halves to even; 0
// when text does not start with a number. nullopt when it does not fit 32 bits.
std::optional<int32_t> ParseIniNumber(const std::string& text);
// Same, with a number that does not fit read as 0.
int32_t IniNumber(const std::string& text);

// A key of a model file: empty when the file, section or key is missing (or the
// file cannot be read).
std::string ReadIniValue(const std::string& path, const std::string& section, const std::string& key);
std::string ReadIniValue(const IniFile& file, const std::string& section, const std::string& key);

// "CountNumber" of section "MaxNumber".
int32_t ReadCountNumber(const std::string& path);

// ---- Settings -----------------------------------------------------------------

enum class Kind { Text, Number };
enum : unsigned { kInS = 1, kInP = 2, kInU = 4, kInSPU = kInS | kInP | kInU };

struct Setting {
  const char* valueName;  // registry value; nullptr when not stored ("" is the default value)
  const char* fileKey;    // model-file key; nullptr when the files do not hold it
  Kind kind;
  unsigned sections;  // model-file sections that hold it
  bool drawerOnly;
};

inline constexpr Setting kSOName{"", "SOName", Kind::Text, kInSPU, false};
inline constexpr Setting kDeviceName{"DeviceName", "DeviceName", Kind::Text, kInSPU, false};
inline constexpr Setting kDeviceDesc{"DeviceDesc", "DeviceDesc", Kind::Text, kInSPU, false};
inline constexpr Setting kDeviceClass{nullptr, "DeviceClass", Kind::Text, kInSPU, false};
inline constexpr Setting kZADConfig{"ZADConfig", "ZADConfig", Kind::Text, kInSPU, false};
inline constexpr Setting kPort{"Port", "Port", Kind::Text, kInSPU, false};
inline constexpr Setting kVid{"Vid", "Vid", Kind::Text, kInU, false};
inline constexpr Setting kPid{"Pid", "Pid", Kind::Text, kInU, false};
inline constexpr Setting kSymbolicLink{"SymbolicLink", nullptr, Kind::Text, 0, false};
inline constexpr Setting kBaudrate{"Baudrate", "Baudrate", Kind::Number, kInSPU, false};
inline constexpr Setting kBitLength{"BitLength", "BitLength", Kind::Number, kInSPU, false};
inline constexpr Setting kParity{"Parity", "Parity", Kind::Number, kInSPU, false};
inline constexpr Setting kStop{"Stop", "Stop", Kind::Number, kInSPU, false};
inline constexpr Setting kXonXoff{"XonXoff", "XonXoff", Kind::Number, kInSPU, false};
inline constexpr Setting kHandShake{"HandShake", "HandShake", Kind::Number, kInSPU, false};
inline constexpr Setting kInputBuf{"InputBuf", "InputBuf", Kind::Number, kInSPU, false};
inline constexpr Setting kOutputBuf{"OutputBuf", "OutputBuf", Kind::Number, kInSPU, false};
inline constexpr Setting kTimeout{"Timeout", "Timeout", Kind::Number, kInSPU, false};
inline constexpr Setting kPortShare{"PortShare", "PortShare", Kind::Number, kInSPU, false};
inline constexpr Setting kBaudrateSel{"BaudrateSel", "BaudrateSel", Kind::Text, kInSPU, false};
inline constexpr Setting kBitLengthSel{"BitLengthSel", "BitLengthSel", Kind::Text, kInSPU, false};
inline constexpr Setting kParitySel{"ParitySel", "ParitySel", Kind::Text, kInSPU, false};
inline constexpr Setting kStopSel{"StopSel", "StopSel", Kind::Text, kInSPU, false};
inline constexpr Setting kXonXoffSel{"XonXoffSel", "XonXoffSel", Kind::Text, kInSPU, false};
inline constexpr Setting kHandShakeSel{"HandShakeSel", "HandShakeSel", Kind::Text, kInSPU, false};
inline constexpr Setting kIdleSleep{"IdleSleep", "IdleSleep", Kind::Number, kInSPU, false};
inline constexpr Setting kInputSleep{"InputSleep", "InputSleep", Kind::Number, kInSPU, false};
inline constexpr Setting kImageSleep{"ImageSleep", "ImageSleep", Kind::Number, kInSPU, false};
inline constexpr Setting kOpenLevel{"OpenLevel", "OpenLevel", Kind::Number, kInSPU, true};
inline constexpr Setting kConnectorPinNo{"ConnectorPinNo", "ConnectorPinNo", Kind::Number, kInSPU, true};
inline constexpr Setting kPulseOnTime{"PulseOnTime", "PulseOnTime", Kind::Number, kInSPU, true};
inline constexpr Setting kPulseOffTime{"PulseOffTime", "PulseOffTime", Kind::Number, kInSPU, true};
inline constexpr Setting kDescription{"Description", nullptr, Kind::Text, 0, false};
inline constexpr Setting kVersion{"Version", nullptr, Kind::Text, 0, false};

// Every setting that a model-file section supplies for a device of the class,
// in the order a new device takes them.
std::vector<const Setting*> FileSettings(Section section, const std::string& deviceClass);

// Model-file readers (a setting the section does not hold reads as empty / 0).
std::string ReadFileText(const Setting& setting, const std::string& path, Section section);
int32_t ReadFileNumber(const Setting& setting, const std::string& path, Section section);
// Registry readers and writers on a device key path.
std::string ReadRegText(reg::Store& store, const std::string& keyPath, const Setting& setting);
int32_t ReadRegNumber(reg::Store& store, const std::string& keyPath, const Setting& setting);
// The same on the values of a device key read at once.
std::string ReadRegText(const std::vector<reg::Value>& values, const Setting& setting);
int32_t ReadRegNumber(const std::vector<reg::Value>& values, const Setting& setting);
long WriteRegText(reg::Store& store, const std::string& keyPath, const Setting& setting,
                  const std::string& text);
long WriteRegNumber(reg::Store& store, const std::string& keyPath, const Setting& setting, int32_t value);

// Computed values: the description by class (empty for other classes) and the
// configuration version ("1.0" for both classes).
std::string DescriptionForClass(const std::string& deviceClass);
std::string VersionForClass(const std::string& deviceClass);

// ---- Coded choices of the settings dialog ---------------------------------------

enum class Choice { Baudrate, BitLength, Parity, Stop, HandShake };
using CodeText = std::pair<int32_t, std::string>;

// The whole code table of a setting.
const std::vector<CodeText>& ChoiceTable(Choice choice);
// Text of a code; empty when the code is not in the table.
std::string ChoiceText(Choice choice, int32_t code);
// Code of a shown text; 0 for a text that is none of the table's texts.
int32_t ChoiceCode(Choice choice, const std::string& text);
// What an offer list ("6,7,10") offers, in its order; codes outside the table,
// items that are not whole numbers and repeats are skipped.
std::vector<CodeText> OfferList(Choice choice, const std::string& offerList);

// ---- Model names the tool knows -------------------------------------------------

// The 21 printer and drawer types of the maker.
bool IsKnownType(const std::string& deviceType);
// Types whose devices carry "Vid", "Pid" and "SymbolicLink".
bool IsUsbType(const std::string& deviceType);
// (type, base) pairs for which the add dialog looks for USB printers.
bool IsUsbAddPair(const std::string& deviceType, const std::string& baseName);
// "Device Name : ..." line of the test page; empty for types without one.
std::string TestPrintModelLine(const std::string& deviceType);
// How the device tree tells the maker's devices: a printer by its "ZADConfig", a
// cash drawer by its "Description".
bool IsMakersDevice(const std::string& deviceClass, const std::string& zadConfig,
                    const std::string& description);
// What the main window lets the user change beyond removal: devices whose
// "ZADConfig" is the maker's, whatever their class.
bool HasMakersConfig(const std::string& zadConfig);

}  // namespace opos::setup::modSetup
