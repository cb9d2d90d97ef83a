// The device settings dialog (modeless): the port and communication settings of
// one device, its USB binding, and the test through the OPOS Control Objects.
//
// The dialog keeps the device it was opened for and saves to that device's key,
// whatever the main window selects in the meantime: pressing "&Ok" after
// selecting another device must not write these settings over that one.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

#include "platform/registry_store.h"
#include "setup/device_settings.h"
#include "setup/devsetup_cli.h"
#include "setup/gui/prompts.h"
#include "setup/opos_cls.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace opos::setup::gui {

class SettingsDialog : public QDialog {
 public:
  struct Options {
    reg::Store* store = nullptr;
    TestRunner tester;                            // empty: no Control Objects
    std::function<void(const OPOSCls&)> onSaved;  // after every successful save
  };
  SettingsDialog(Options options, Prompts& prompts, QWidget* parent = nullptr);

  // Shows the device's settings; device is the loaded device of the main window.
  void Open(const OPOSCls& device);

  const OPOSCls& Device() const { return device_; }

 private:
  // Validates the shown values, reloads the device, applies and saves them.
  bool Apply();
  void Ok();
  void Test();
  // The shown values into form; false with the reasons in *errors.
  bool Collect(SettingsForm* form, std::vector<std::string>* errors) const;
  void Tell(QMessageBox::Icon icon, const std::string& title, const std::string& text,
            const std::string& details = {});

  Options options_;
  Prompts& prompts_;
  OPOSCls device_;
  SettingsForm form_;
  QLabel* name_;                       // lblName 0
  std::array<QComboBox*, 8> boxes_{};  // cboData 0 ... 7
  std::array<QLineEdit*, 7> texts_{};  // txtData 0 ... 6
  QPushButton* test_;
  QPushButton* ok_;
};

}  // namespace opos::setup::gui
