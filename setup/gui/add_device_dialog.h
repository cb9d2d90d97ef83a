// The add-device dialog: a base model and one of its device types from the
// model definition files; "&Add" creates the device key through OPOSCls::Read.
#pragma once

#include <QDialog>
#include <string>

#include "platform/registry_store.h"
#include "setup/gui/prompts.h"
#include "setup/opos_cls.h"

class QComboBox;
class QPushButton;

namespace opos::setup::gui {

class AddDeviceDialog : public QDialog {
 public:
  // deviceClass: the key of the selected class node.
  AddDeviceDialog(OPOSCls& cls, reg::Store& store, std::string modelDir, std::string deviceClass,
                  Prompts& prompts, QWidget* parent = nullptr);

  // Lists the models; call before the dialog is shown. Problems with the model
  // files are reported to the user here.
  void Prepare();

  // Closing by any way drops the scratch key.
  void done(int result) override;

 private:
  void SelectBase(int index);
  void SelectType(int index);
  void Add();
  void Warn(const std::string& text);

  OPOSCls& cls_;
  reg::Store& store_;
  const std::string modelDir_;
  const std::string deviceClass_;
  Prompts& prompts_;
  QComboBox* bases_;  // cboData 0; each entry carries its model file's path
  QComboBox* types_;  // cboData 1
  QComboBox* ports_;  // cboData 2
  QPushButton* add_;
  bool usbPortsListed_ = false;
};

}  // namespace opos::setup::gui
