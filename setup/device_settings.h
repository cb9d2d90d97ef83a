// The rules of the device settings dialog, without the dialog: what it shows for
// the device that OPOSCls holds, what a user may choose, and how the shown values
// go back into the fields (with the USB binding) before they are saved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "setup/mod_setup.h"
#include "setup/opos_cls.h"

namespace opos::setup {

enum class PortKind { Serial, Parallel, Usb };
// By the first three letters of the port: "LPT" parallel, "USB" USB, else serial.
PortKind PortKindOf(const std::string& port);

struct ChoiceBox {
  modSetup::Choice choice;
  std::vector<modSetup::CodeText> offers;  // from the device's offer list
  std::string text;                        // shown text; empty when the code has none
  bool enabled = false;
};

struct SettingsForm {
  std::string title;
  std::string originalPort;              // the port when the form was opened
  std::vector<std::string> portChoices;  // serial: COM1-COM10, then the serial devices found
  std::string port;
  bool portShown = true;
  ChoiceBox baudrate{modSetup::Choice::Baudrate, {}, {}, false};
  ChoiceBox bitLength{modSetup::Choice::BitLength, {}, {}, false};
  ChoiceBox parity{modSetup::Choice::Parity, {}, {}, false};
  ChoiceBox stop{modSetup::Choice::Stop, {}, {}, false};
  ChoiceBox handShake{modSetup::Choice::HandShake, {}, {}, false};
  std::string inputBuf, outputBuf, inputSleep, timeout, imageSleep;
  bool drawerEnabled = false;
  std::vector<std::string> openLevelChoices, pinChoices;
  std::string openLevel, pinNo, pulseOnTime, pulseOffTime;
};

// Opens the form on the device; a "StandardCashU" drawer on port "USB" is moved
// to "USB001" (in cls too) when a USB printer is present.
SettingsForm OpenSettingsForm(OPOSCls& cls);

// Names accepted by SetFormValue, in the dialog's order.
const std::vector<std::string>& FormSettingNames();

// Puts one value into the form as the user would choose or type it: a port from
// the port list, a coded choice by its text from the offered ones, a drawer
// choice from its list, a number as a whole non-negative decimal. False with a
// reason (the form unchanged) for anything the dialog would not take; the
// reason calls the setting shownName when one is given (the box's label).
bool SetFormValue(SettingsForm* form, const OPOSCls& cls, const std::string& setting,
                  const std::string& value, std::string* error, const std::string& shownName = {});

// Takes the form's values into the fields (without saving): port, USB binding,
// coded choices, numbers, drawer settings. Notes for the user go to *notes.
void ApplySettingsForm(const SettingsForm& form, OPOSCls* cls, std::vector<std::string>* notes);

}  // namespace opos::setup
