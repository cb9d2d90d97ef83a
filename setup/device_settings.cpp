#include "setup/device_settings.h"

#include <algorithm>
#include <climits>

#include "platform/serial_enum.h"
#include "setup/model_catalog.h"
#include "setup/text.h"

namespace opos::setup {
namespace {

using modSetup::ChoiceText;
using modSetup::IsUsbType;

bool IsDecimal(const std::string& text) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::stoll(text) <= INT32_MAX;
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : ", ") + ("\"" + s + "\"");
  return out;
}

void OpenChoice(ChoiceBox* box, const std::string& offerList, int32_t code) {
  box->offers = modSetup::OfferList(box->choice, offerList);
  box->text = ChoiceText(box->choice, code);
}

// The number that ends a port name ("USB001" -> 1); 0 when there is none.
int32_t TrailingNumber(const std::string& port) {
  size_t start = port.size();
  while (start > 0 && port[start - 1] >= '0' && port[start - 1] <= '9') --start;
  std::string digits = port.substr(start);
  if (digits.empty() || digits.size() > 9) return 0;
  return static_cast<int32_t>(std::stol(digits));
}

struct BoxRef {
  const char* name;
  ChoiceBox SettingsForm::*box;
  int32_t OPOSCls::*field;
};
const BoxRef kBoxes[] = {
    {"Baudrate", &SettingsForm::baudrate, &OPOSCls::mlngBaudrate},
    {"BitLength", &SettingsForm::bitLength, &OPOSCls::mlngBitLength},
    {"Parity", &SettingsForm::parity, &OPOSCls::mlngParity},
    {"Stop", &SettingsForm::stop, &OPOSCls::mlngStop},
    {"HandShake", &SettingsForm::handShake, &OPOSCls::mlngHandShake},
};

struct TextRef {
  const char* name;
  std::string SettingsForm::*text;
  bool drawerOnly;
};
const TextRef kTexts[] = {
    {"InputBuf", &SettingsForm::inputBuf, false},        {"OutputBuf", &SettingsForm::outputBuf, false},
    {"InputSleep", &SettingsForm::inputSleep, false},    {"Timeout", &SettingsForm::timeout, false},
    {"ImageSleep", &SettingsForm::imageSleep, false},    {"PulseOnTime", &SettingsForm::pulseOnTime, true},
    {"PulseOffTime", &SettingsForm::pulseOffTime, true},
};

}  // namespace

PortKind PortKindOf(const std::string& port) {
  const std::string head = port.substr(0, 3);
  if (head == "LPT") return PortKind::Parallel;
  if (head == "USB") return PortKind::Usb;
  return PortKind::Serial;
}

SettingsForm OpenSettingsForm(OPOSCls& cls) {
  SettingsForm form;
  form.title = cls.mstrDeviceName + " Printer Settings ";
  const PortKind kind = PortKindOf(cls.mstrPort);
  const bool usbType = IsUsbType(cls.mstrDeviceName);
  if (kind == PortKind::Serial) {
    for (int i = 1; i <= 10; ++i) form.portChoices.push_back("COM" + std::to_string(i));
    // Then the machine's own serial devices by path, so that a USB-serial
    // adapter can be chosen without making a COM link for it.
    for (const platform::SerialDevice& d : platform::EnumerateSerialDevices()) {
      form.portChoices.push_back(d.path);
    }
  } else if (kind == PortKind::Usb && usbType) {
    int32_t n = cls.NumberofDevices();
    if (n > 0 && n < 100) {
      if (cls.mstrPort == "USB" && cls.mstrDeviceName == "StandardCashU") cls.mstrPort = "USB001";
      form.portChoices = UsbPortNames(n);
    }
  } else if (kind == PortKind::Parallel && !cls.mstrDeviceName.empty() && cls.mstrDeviceName.back() == 'P') {
    for (int i = 1; i <= 8; ++i) form.portChoices.push_back("LPT" + std::to_string(i));
  }
  form.portShown = kind != PortKind::Usb || usbType;
  form.port = cls.mstrPort;
  form.originalPort = cls.mstrPort;

  OpenChoice(&form.baudrate, cls.mstrBaudrateSel, cls.mlngBaudrate);
  OpenChoice(&form.bitLength, cls.mstrBitLengthSel, cls.mlngBitLength);
  OpenChoice(&form.parity, cls.mstrParitySel, cls.mlngParity);
  OpenChoice(&form.stop, cls.mstrStopSel, cls.mlngStop);
  OpenChoice(&form.handShake, cls.mstrHandShakeSel, cls.mlngHandShake);

  const bool drawer = cls.mstrDeviceClass == modSetup::kDrawerClass;
  if (drawer) {
    form.openLevelChoices = {"0", "1"};
    form.pinChoices = {"2", "5"};
    form.openLevel = std::to_string(cls.mlngOpenLevel);
    form.pinNo = std::to_string(cls.mlngConnectorPinNo);
    form.pulseOnTime = std::to_string(cls.mlngPulseOnTime);
    form.pulseOffTime = std::to_string(cls.mlngPulseOffTime);
  }
  form.inputBuf = std::to_string(cls.mlngInputBuf);
  form.outputBuf = std::to_string(cls.mlngOutputBuf);
  form.inputSleep = std::to_string(cls.mlngInputSleep);
  form.timeout = std::to_string(cls.mlngTimeout);
  form.imageSleep = std::to_string(cls.mlngImageSleep);

  for (const BoxRef& b : kBoxes) {
    ChoiceBox& box = form.*b.box;
    box.enabled = kind == PortKind::Serial;
    if (!box.enabled) {
      box.offers.clear();
      box.text.clear();
    }
  }
  form.drawerEnabled = drawer;
  return form;
}

const std::vector<std::string>& FormSettingNames() {
  static const std::vector<std::string> kNames = {
      "Port",       "Baudrate",  "BitLength",      "Parity",      "Stop",
      "HandShake",  "InputBuf",  "OutputBuf",      "InputSleep",  "Timeout",
      "ImageSleep", "OpenLevel", "ConnectorPinNo", "PulseOnTime", "PulseOffTime",
  };
  return kNames;
}

bool SetFormValue(SettingsForm* form, const OPOSCls& cls, const std::string& setting,
                  const std::string& value, std::string* error, const std::string& shownName) {
  if (EqualsNoCase(setting, "Port")) {
    if (!form->portShown || form->portChoices.empty()) {
      if (PortKindOf(cls.mstrPort) == PortKind::Usb && IsUsbType(cls.mstrDeviceName)) {
        *error = std::string("no USB printer of the maker is present (") + kNoUsbDeviceMessage + ")";
      } else {
        *error =
            "the port of a " + cls.mstrDeviceName + " device on \"" + cls.mstrPort + "\" offers no choices";
      }
      return false;
    }
    for (const std::string& p : form->portChoices) {
      if (EqualsNoCase(p, value)) {
        form->port = p;
        return true;
      }
    }
    // A serial device by its own path (a USB-serial adapter, a by-id link):
    // stored as written and used as it stands.
    if (!value.empty() && value[0] == '/' && PortKindOf(cls.mstrPort) == PortKind::Serial) {
      constexpr size_t kMaxPath = 255;  // a registry string the model reads whole
      const bool clean = std::none_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
      });
      if (!clean || value.size() > kMaxPath) {
        *error = "port path must be at most 255 characters without control characters";
        return false;
      }
      form->port = value;
      return true;
    }
    *error = "port \"" + value + "\" is not offered; choose one of " + Join(form->portChoices) +
             " or a serial device's absolute path";
    return false;
  }
  for (const BoxRef& b : kBoxes) {
    if (!EqualsNoCase(setting, b.name)) continue;
    ChoiceBox& box = form->*b.box;
    if (!box.enabled) {
      *error = std::string(b.name) + " applies only to a device on a serial (COM) port";
      return false;
    }
    std::vector<std::string> texts;
    for (const modSetup::CodeText& ct : box.offers) {
      if (EqualsNoCase(ct.second, value)) {
        box.text = ct.second;
        return true;
      }
      texts.push_back(ct.second);
    }
    *error = texts.empty()
                 ? std::string(b.name) + " offers no choices for this device"
                 : "\"" + value + "\" is not offered for " + b.name + "; choose one of " + Join(texts);
    return false;
  }
  auto drawerChoice = [&](const char* name, const std::vector<std::string>& choices, std::string* target) {
    if (!form->drawerEnabled) {
      *error = std::string(name) + " applies only to cash drawers";
      return false;
    }
    for (const std::string& c : choices) {
      if (c == value) {
        *target = c;
        return true;
      }
    }
    *error = "\"" + value + "\" is not offered for " + name + "; choose one of " + Join(choices);
    return false;
  };
  if (EqualsNoCase(setting, "OpenLevel")) {
    return drawerChoice("OpenLevel", form->openLevelChoices, &form->openLevel);
  }
  if (EqualsNoCase(setting, "ConnectorPinNo")) {
    return drawerChoice("ConnectorPinNo", form->pinChoices, &form->pinNo);
  }
  for (const TextRef& t : kTexts) {
    if (!EqualsNoCase(setting, t.name)) continue;
    const std::string name = shownName.empty() ? std::string(t.name) : shownName;
    if (t.drawerOnly && !form->drawerEnabled) {
      *error = name + " applies only to cash drawers";
      return false;
    }
    if (!IsDecimal(value)) {
      *error = name + " must be a whole number from 0 to 2147483647, not \"" + Printable(value) + "\"";
      return false;
    }
    form->*t.text = value;
    return true;
  }
  std::string names;
  for (const std::string& n : FormSettingNames()) names += (names.empty() ? "" : ", ") + n;
  *error = "unknown setting \"" + Printable(setting) + "\"; settings are " + names;
  return false;
}

void ApplySettingsForm(const SettingsForm& form, OPOSCls* cls, std::vector<std::string>* notes) {
  cls->mstrPort = form.port;

  const bool usbType = IsUsbType(cls->mstrDeviceName);
  const int32_t number = TrailingNumber(form.port);
  const std::string link = cls->NumberofDevices() > 0 ? cls->GetDeviceID(number - 1) : std::string();
  if (link.empty() && usbType && form.port == form.originalPort && !cls->mstrSymbolicLink.empty()) {
    // The printer is merely unplugged: keep the socket it was bound to rather
    // than erase the binding while another setting is changed.
    notes->push_back("no USB printer at " + form.port + " now; the binding to " + cls->mstrSymbolicLink +
                     " is kept");
  } else {
    cls->mstrSymbolicLink = link;
    if (usbType && link.empty()) {
      notes->push_back("no USB printer at " + form.port +
                       "; the device is not bound to a printer and cannot be opened");
    }
  }

  for (const BoxRef& b : kBoxes) {
    const ChoiceBox& box = form.*b.box;
    // A serial box shows nothing only for a stored code the dialog has no text
    // for: keep that code rather than replace it by 0.
    if (box.enabled && box.text.empty()) continue;
    cls->*b.field = modSetup::ChoiceCode(box.choice, box.text);
  }

  cls->mlngInputBuf = modSetup::IniNumber(form.inputBuf);
  cls->mlngOutputBuf = modSetup::IniNumber(form.outputBuf);
  cls->mlngInputSleep = modSetup::IniNumber(form.inputSleep);
  cls->mlngImageSleep = modSetup::IniNumber(form.imageSleep);
  cls->mlngTimeout = modSetup::IniNumber(form.timeout);
  if (cls->mstrDeviceClass == modSetup::kDrawerClass) {
    cls->mlngOpenLevel = modSetup::IniNumber(form.openLevel);
    cls->mlngConnectorPinNo = modSetup::IniNumber(form.pinNo);
    cls->mlngPulseOnTime = modSetup::IniNumber(form.pulseOnTime);
    cls->mlngPulseOffTime = modSetup::IniNumber(form.pulseOffTime);
  }
}

}  // namespace opos::setup
