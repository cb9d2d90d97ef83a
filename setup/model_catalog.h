// The model definition files beside the program, as the add dialog lists them:
// base models per device class, the device types a model offers, and the rule
// that decides whether a chosen type needs a USB printer present.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace opos::setup {

// Directory of the running executable (through /proc/self/exe); empty when it
// cannot be told.
std::string ProgramDirectory();

// Where the model files are read from by default: the installed data folder
// (share/opos/models beside the program's bin/) when it is there, else the
// program's own directory, where the build tree keeps a copy.
std::string DefaultModelDirectory();

struct BaseModel {
  std::string baseName;  // "SINFO" device type without its last letter
  std::string path;      // full path of its model file
};

// Files "KLP*.inf" for "POSPrinter", "CashDrawer.inf" for "CashDrawer" (names
// compared without regard to case, as on the file system the files come from),
// in alphabetical order. A file that cannot be read or names no "SINFO" device
// type is left out with a line in *problems.
std::vector<BaseModel> ListBaseModels(const std::string& dir, const std::string& deviceClass,
                                      std::vector<std::string>* problems);

// Device types the model file offers, in the order serial, parallel, USB up to
// its "CountNumber" ("KLP_Z7.inf": serial, USB). Empty with *error when the count
// is out of range or an offered section names no type of its own kind.
std::vector<std::string> ListModelTypes(const std::string& path, std::string* error);

// Port names "USB001" ... for n present printers.
std::vector<std::string> UsbPortNames(int32_t n);

// The add dialog's rule for a chosen type under a base model.
struct TypeRule {
  bool needsUsb = false;  // a USB pair: the port list is filled from the present printers
  bool canAdd = true;
  std::vector<std::string> ports;  // USB001 ... when needsUsb and printers are present
  std::string message;             // shown when canAdd is false
};
TypeRule ApplyTypeRule(const std::string& deviceType, const std::string& baseName,
                       int32_t presentUsbPrinters);

inline constexpr const char kNoUsbDeviceMessage[] = "Not Connect USB Device and Power off!";
inline constexpr const char kNoPrinterForDrawerMessage[] =
    "Not Installed Printer can connect with the CashDrawer!!";

}  // namespace opos::setup
