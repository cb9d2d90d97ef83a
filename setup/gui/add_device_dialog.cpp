#include "setup/gui/add_device_dialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include "setup/main_panel.h"
#include "setup/mod_setup.h"
#include "setup/model_catalog.h"

namespace opos::setup::gui {

AddDeviceDialog::AddDeviceDialog(OPOSCls& cls, reg::Store& store, std::string modelDir,
                                 std::string deviceClass, Prompts& prompts, QWidget* parent)
    : QDialog(parent),
      cls_(cls),
      store_(store),
      modelDir_(std::move(modelDir)),
      deviceClass_(std::move(deviceClass)),
      prompts_(prompts) {
  setWindowTitle("Add New Device");
  bases_ = new QComboBox(this);
  bases_->setObjectName("cboData0");
  types_ = new QComboBox(this);
  types_->setObjectName("cboData1");
  ports_ = new QComboBox(this);
  ports_->setObjectName("cboData2");
  add_ = new QPushButton("&Add", this);
  add_->setObjectName("cmdExecute2");
  add_->setAutoDefault(false);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cmdExecute1");
  cancel->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Select Device Name :", this), 0, 0);
  grid->addWidget(bases_, 0, 1);
  grid->addWidget(new QLabel("Select Device Type :", this), 1, 0);
  grid->addWidget(types_, 1, 1);
  grid->addWidget(new QLabel("Select Port Name :", this), 2, 0);
  grid->addWidget(ports_, 2, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(add_);
  row->addWidget(cancel);
  grid->addLayout(row, 3, 0, 1, 2);
  bases_->setMinimumWidth(200);

  connect(bases_, &QComboBox::currentIndexChanged, this, [this](int i) { SelectBase(i); });
  connect(types_, &QComboBox::currentIndexChanged, this, [this](int i) { SelectType(i); });
  connect(add_, &QPushButton::clicked, this, [this] { Add(); });
  connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
}

void AddDeviceDialog::Warn(const std::string& text) {
  prompts_.Show(this, {QMessageBox::Warning, kSetupMessageTitle, Q(text), QMessageBox::Ok, {}});
}

void AddDeviceDialog::Prepare() {
  std::vector<std::string> problems;
  std::vector<BaseModel> models = ListBaseModels(modelDir_, deviceClass_, &problems);
  {
    QSignalBlocker block(bases_);
    bases_->clear();
    for (const BaseModel& m : models) bases_->addItem(Q(m.baseName), Q(m.path));
  }
  if (models.empty()) {
    problems.push_back("No model definition files for " + deviceClass_ + " in \"" + modelDir_ + "\".");
  }
  if (!problems.empty()) {
    std::string text;
    for (const std::string& p : problems) text += (text.empty() ? "" : "\n") + p;
    Warn(text);
  }
  if (bases_->count() > 0) {
    bases_->setCurrentIndex(0);
    SelectBase(0);
  } else {
    add_->setEnabled(false);
  }
  ports_->setEnabled(false);
  usbPortsListed_ = false;
}

void AddDeviceDialog::SelectBase(int index) {
  {
    QSignalBlocker block(types_);
    types_->clear();
  }
  if (index < 0) return;
  std::string error;
  std::vector<std::string> types = ListModelTypes(S(bases_->itemData(index).toString()), &error);
  if (types.empty()) {
    add_->setEnabled(false);
    Warn(error);
    return;
  }
  {
    QSignalBlocker block(types_);
    for (const std::string& t : types) types_->addItem(Q(t));
    types_->setCurrentIndex(0);
  }
  SelectType(0);
}

void AddDeviceDialog::SelectType(int index) {
  if (index < 0) return;
  const std::string type = S(types_->itemText(index));
  const std::string base = S(bases_->currentText());
  if (!modSetup::IsUsbAddPair(type, base)) {
    ports_->clear();
    usbPortsListed_ = false;
    ports_->setEnabled(false);
    add_->setEnabled(true);
    return;
  }
  if (usbPortsListed_) {
    add_->setEnabled(true);
    return;
  }
  TypeRule rule = ApplyTypeRule(type, base, cls_.NumberofDevices());
  if (!rule.canAdd) {
    ports_->setEnabled(false);
    add_->setEnabled(false);
    prompts_.Show(this, {QMessageBox::Warning, kSetupMessageTitle, Q(rule.message), QMessageBox::Ok, {}});
    return;
  }
  ports_->clear();
  for (const std::string& p : rule.ports) ports_->addItem(Q(p));
  usbPortsListed_ = true;
  ports_->setEnabled(true);
  ports_->setCurrentIndex(0);
  // Printers may have been plugged in since a USB type found none.
  add_->setEnabled(true);
}

void AddDeviceDialog::Add() {
  if (bases_->count() == 0 || types_->currentIndex() < 0) return;
  const std::string path = S(bases_->currentData().toString());
  if (!cls_.Read(path, S(types_->currentText()))) {
    Warn("The device could not be added: " + cls_.LastError());
    return;
  }
  accept();
}

void AddDeviceDialog::done(int result) {
  if (modSetup::KeyExists(store_, modSetup::kScratchKey)) {
    store_.DeleteTree(reg::Root::LocalMachine, modSetup::kScratchKey);
  }
  QDialog::done(result);
}

}  // namespace opos::setup::gui
