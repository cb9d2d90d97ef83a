#include "setup/main_panel.h"

#include <cstdlib>

#include "setup/mod_setup.h"
#include "setup/model_catalog.h"
#include "setup/text.h"

namespace opos::setup {

PanelState StartPanel() {
  return PanelState{};
}

PanelState ClassNodePanel() {
  PanelState p;
  p.buttons[kAddDeviceButton] = true;
  return p;
}

PanelState DevicePanel(const OPOSCls& cls, const std::vector<std::string>& names,
                       const std::vector<std::string>& values) {
  PanelState p;
  p.buttons.fill(true);
  p.buttons[kAddDeviceButton] = false;
  p.data = {cls.mstrDeviceName, cls.mstrDeviceDesc, cls.mstrZADConfig, cls.mstrDeviceClass, cls.mstrPort};
  // Key names compare without regard to case, so such a name reaches this device too.
  for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
    if (EqualsNoCase(values[i], cls.mstrKeyName)) p.ldns.push_back(names[i]);
  }
  const bool haveLdns = !p.ldns.empty();
  p.buttons[kRemoveLdnButton] = haveLdns;
  p.buttons[kRenameLdnButton] = haveLdns;
  if (!modSetup::IsKnownType(cls.mstrDeviceName)) {
    p.buttons = {};
    p.buttons[kRemoveDeviceButton] = true;
    p.buttons[kDeviceSetupButton] = true;
    p.buttons[kRenameKeyButton] = true;
    p.grey = true;
  }
  if (!modSetup::HasMakersConfig(cls.mstrZADConfig)) {
    p.buttons = {};
    p.buttons[kRemoveDeviceButton] = true;
    p.grey = true;
  }
  p.ldnEnabled = haveLdns;
  return p;
}

PanelState ResetPanel(const PanelState& before, const OPOSCls& cls) {
  PanelState p;
  p.buttons[kDeviceSetupButton] = before.buttons[kDeviceSetupButton] &&
                                  modSetup::IsDeviceClass(cls.mstrDeviceClass) && !cls.mstrKeyName.empty();
  return p;
}

bool IsMakersNode(const OPOSCls& cls) {
  return modSetup::IsMakersDevice(cls.mstrDeviceClass, cls.mstrZADConfig, cls.mstrDescription);
}

std::string AddDeviceRefusal(const std::string& selectedClass, int printerNodes) {
  if (selectedClass == modSetup::kDrawerClass && printerNodes == 0) {
    return kNoPrinterForDrawerMessage;
  }
  return {};
}

bool RenameAccepted(const std::string& current, const std::string& text) {
  return !text.empty() && text != current;
}

bool NewLdnAccepted(const std::string& text) {
  return !text.empty();
}

std::string RemoveDeviceQuestion(const std::string& keyName) {
  return "Do you want to remove all of information about '" + keyName + "'?";
}

std::string RemoveLdnQuestion(const std::string& ldn) {
  return "Logical Device Name '" + ldn + "' is currently used. Do you want to remove it?";
}

std::string RenameQuestion(const std::string& current, const std::string& renamed) {
  return "Renaming Device Name Key from '" + current + "' to '" + renamed +
         "' may affect some application settings.\r\nDo you want to rename it?";
}

std::string NvLogoToolPath() {
  const char* env = std::getenv("OPOS_NVLOGOTOOL");
  if (env != nullptr && *env != '\0') return env;
  return kNvLogoToolPath;
}

std::string NvLogoToolFailure(const std::string& path, const std::string& why) {
  return "Cannot start the NV logo tool \"" + path + "\": " + why +
         "\nSet OPOS_NVLOGOTOOL to the tool's path to use another one.";
}

}  // namespace opos::setup
