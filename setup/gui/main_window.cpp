#include "setup/gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "setup/gui/add_device_dialog.h"
#include "setup/gui/name_dialogs.h"
#include "setup/gui/port_range_dialog.h"
#include "setup/gui/settings_dialog.h"
#include "setup/mod_regedit.h"
#include "setup/mod_setup.h"
#include "setup/text.h"

namespace opos::setup::gui {
namespace {

const QColor kGrey(128, 128, 128);

// Nodes keep their key as the bytes the registry holds, whatever their text shows.
std::string KeyOf(const QTreeWidgetItem* item) {
  return item->data(0, Qt::UserRole).toByteArray().toStdString();
}

QByteArray Bytes(const std::string& text) {
  return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

void SetGrey(QWidget* w, bool grey) {
  QPalette p = QApplication::palette(w);
  if (grey) {
    p.setColor(QPalette::Text, kGrey);
    p.setColor(QPalette::ButtonText, kGrey);
  }
  w->setPalette(p);
}

const char* const kButtons[10] = {
    "&Add New Device", "Re&move Device", "Device &Setup", "&Rename Key", "Add &New LDN",
    "Remo&ve LDN",     "R&ename LDN",    "&Port Range",   "E&xit",       "NVImage",
};

}  // namespace

MainWindow::MainWindow(Options options, Prompts& prompts, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), prompts_(prompts), cls_(*options_.store) {
  setWindowTitle(kMainWindowTitle);

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("TreeView");
  tree_->setHeaderHidden(true);
  tree_->setMinimumWidth(230);

  auto* details = new QGroupBox(this);
  auto* form = new QGridLayout(details);
  const char* labels[5] = {
      "Device Name :", "Device Description :", "ZAD Version :", "DeviceClass :", "PORT :"};
  for (size_t i = 0; i < data_.size(); ++i) {
    data_[i] = new QLineEdit(details);
    data_[i]->setObjectName(QString("lblData%1").arg(i));
    data_[i]->setReadOnly(true);
    data_[i]->setMinimumWidth(300);
    form->addWidget(new QLabel(labels[i], details), static_cast<int>(i), 0);
    form->addWidget(data_[i], static_cast<int>(i), 1);
  }
  ldn_ = new QComboBox(details);
  ldn_->setObjectName("cboLDN");
  form->addWidget(new QLabel("LDN :", details), 5, 0);
  form->addWidget(ldn_, 5, 1);

  auto* buttonGrid = new QGridLayout;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    buttons_[i] = new QPushButton(kButtons[i], this);
    buttons_[i]->setObjectName(QString("cmdExecute%1").arg(i));
    buttons_[i]->setAutoDefault(false);
    buttonGrid->addWidget(buttons_[i], static_cast<int>(i / 2), static_cast<int>(i % 2));
  }

  auto* version = new QLabel(kVersionText, this);
  version->setObjectName("lblVersion");

  auto* right = new QVBoxLayout;
  right->addWidget(details);
  right->addLayout(buttonGrid);
  right->addStretch();
  right->addWidget(version, 0, Qt::AlignRight);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 1);
  layout->addLayout(right, 2);

  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { SelectNode(item); });
  // A click on the node already current shows it again after a panel reset.
  connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    if (item != shownItem_) SelectNode(item);
  });
  const std::array<void (MainWindow::*)(), 10> actions = {
      &MainWindow::AddDevice,    &MainWindow::RemoveDevice,  &MainWindow::OpenSettings,
      &MainWindow::RenameKey,    &MainWindow::AddLdn,        &MainWindow::RemoveLdn,
      &MainWindow::RenameLdn,    &MainWindow::OpenPortRange, &MainWindow::Exit,
      &MainWindow::StartLogoTool};
  for (size_t i = 0; i < buttons_.size(); ++i) {
    connect(buttons_[i], &QPushButton::clicked, this, [this, action = actions[i]] { (this->*action)(); });
  }

  BuildTree();
}

MainWindow::~MainWindow() = default;

void MainWindow::Warn(const std::string& text) {
  prompts_.Show(this, {QMessageBox::Warning, kSetupMessageTitle, Q(text), QMessageBox::Ok, {}});
}

QTreeWidgetItem* MainWindow::ClassNode(const std::string& deviceClass) const {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    if (KeyOf(tree_->topLevelItem(i)) == deviceClass) return tree_->topLevelItem(i);
  }
  return nullptr;
}

QTreeWidgetItem* MainWindow::AddDeviceNode(QTreeWidgetItem* classNode, const std::string& key) {
  auto* item = new QTreeWidgetItem(classNode, QStringList(Q(key)));
  item->setData(0, Qt::UserRole, Bytes(key));
  item->setIcon(0,
                style()->standardIcon(KeyOf(classNode) == modSetup::kPrinterClass ? QStyle::SP_FileIcon
                                                                                  : QStyle::SP_DriveHDIcon));
  OPOSCls probe(*options_.store);
  probe.Load(KeyOf(classNode), key);
  if (IsMakersNode(probe)) {
    item->setForeground(0, palette().brush(QPalette::ButtonText));
  } else {
    item->setForeground(0, kGrey);
  }
  return item;
}

void MainWindow::BuildTree() {
  for (const char* deviceClass : {modSetup::kPrinterClass, modSetup::kDrawerClass}) {
    auto* node = new QTreeWidgetItem(tree_, QStringList(deviceClass));
    node->setData(0, Qt::UserRole, Bytes(deviceClass));
    node->setIcon(
        0, style()->standardIcon(deviceClass == std::string(modSetup::kPrinterClass) ? QStyle::SP_ComputerIcon
                                                                                     : QStyle::SP_DirIcon));
    node->setExpanded(true);
  }
  for (const char* deviceClass : {modSetup::kPrinterClass, modSetup::kDrawerClass}) {
    QTreeWidgetItem* node = ClassNode(deviceClass);
    std::optional<std::vector<std::string>> keys =
        modRegedit::EnumSubKeys(*options_.store, modSetup::ClassKeyPath(deviceClass));
    for (const std::string& key : keys.value_or(std::vector<std::string>{})) {
      AddDeviceNode(node, key);
    }
    node->setExpanded(true);
  }
  panel_ = StartPanel();
  ShowPanel(panel_);
}

void MainWindow::ShowPanel(const PanelState& panel) {
  for (size_t i = 0; i < data_.size(); ++i) data_[i]->setText(Q(panel.data[i]));
  ldn_->clear();
  for (const std::string& name : panel.ldns) ldn_->addItem(Q(name), Bytes(name));
  if (ldn_->count() > 0) ldn_->setCurrentIndex(0);
  ldn_->setEnabled(panel.ldnEnabled);
  SetGrey(data_[0], panel.grey);
  SetGrey(data_[1], panel.grey);
  SetGrey(ldn_, panel.grey);
  for (size_t i = 0; i < panel.buttons.size(); ++i) buttons_[i]->setEnabled(panel.buttons[i]);
}

void MainWindow::SelectNode(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  selectedKey_ = KeyOf(item);
  if (item->parent() == nullptr) {
    cls_.Clear();
    panel_ = ClassNodePanel();
  } else {
    if (!cls_.Load(KeyOf(item->parent()), KeyOf(item))) Warn(cls_.LastError());
    std::vector<std::string> names, values;
    int16_t count = 0;
    cls_.GetLDN(&names, &values, &count);
    panel_ = DevicePanel(cls_, names, values);
  }
  ShowPanel(panel_);
  shownItem_ = item;
}

void MainWindow::Refresh() {
  SelectNode(tree_->currentItem());
}

void MainWindow::ResetPanel() {
  panel_ = setup::ResetPanel(panel_, cls_);
  ShowPanel(panel_);
  shownItem_ = nullptr;
}

void MainWindow::AddDevice() {
  QTreeWidgetItem* printers = ClassNode(modSetup::kPrinterClass);
  const std::string refusal = AddDeviceRefusal(selectedKey_, printers ? printers->childCount() : 0);
  if (!refusal.empty()) {
    Warn(refusal);
    return;
  }
  AddDeviceDialog dialog(cls_, *options_.store, options_.modelDir, selectedKey_, prompts_, this);
  dialog.Prepare();
  prompts_.Exec(&dialog);
  if (modSetup::IsDeviceClass(cls_.mstrDeviceClass)) {
    if (QTreeWidgetItem* node = ClassNode(cls_.mstrDeviceClass)) {
      AddDeviceNode(node, cls_.mstrKeyName);
      node->setExpanded(true);
    }
  }
  Refresh();
  ResetPanel();
}

void MainWindow::RemoveDevice() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr || item->parent() == nullptr) return;
  Message ask{QMessageBox::Information,
              kApplicationTitle,
              Q(RemoveDeviceQuestion(cls_.mstrKeyName)),
              QMessageBox::Yes | QMessageBox::No,
              {}};
  if (prompts_.Show(this, ask) != QMessageBox::Yes) return;
  if (!cls_.Remove()) {
    Warn(cls_.LastError());
    return;
  }
  shownItem_ = nullptr;
  delete item;
  Refresh();
  ResetPanel();
}

void MainWindow::OpenSettings() {
  if (!modSetup::IsDeviceClass(cls_.mstrDeviceClass) || cls_.mstrKeyName.empty()) return;
  std::vector<std::string> unreadable = cls_.UnreadableValues();
  if (!unreadable.empty()) {
    std::string names;
    for (const std::string& n : unreadable) names += (names.empty() ? "" : ", ") + n;
    Warn("'" + cls_.mstrKeyName + "' holds values this tool cannot read back as stored (" + names +
         "); saving its settings would overwrite them, so they cannot be edited here.");
    return;
  }
  for (SettingsDialog* open : SettingsDialogs()) {
    if (open->Device().mstrDeviceClass == cls_.mstrDeviceClass &&
        EqualsNoCase(open->Device().mstrKeyName, cls_.mstrKeyName)) {
      open->raise();
      open->activateWindow();
      return;
    }
  }
  SettingsDialog::Options options{options_.store, options_.tester,
                                  [this](const OPOSCls& saved) { DeviceSaved(saved); }};
  auto* dialog = new SettingsDialog(std::move(options), prompts_, this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->Open(cls_);
  std::erase_if(settings_, [](const QPointer<SettingsDialog>& p) { return p.isNull(); });
  settings_.emplace_back(dialog);
  dialog->show();
}

void MainWindow::DeviceSaved(const OPOSCls& saved) {
  if (cls_.mstrDeviceClass != saved.mstrDeviceClass || !EqualsNoCase(cls_.mstrKeyName, saved.mstrKeyName)) {
    return;
  }
  // Later actions on the loaded device (a rename writes every field) must
  // carry what was just saved.
  cls_ = saved;
  if (shownItem_ != nullptr && shownItem_->parent() != nullptr &&
      EqualsNoCase(KeyOf(shownItem_), saved.mstrKeyName)) {
    SelectNode(shownItem_);
  }
}

std::vector<SettingsDialog*> MainWindow::SettingsDialogs() const {
  std::vector<SettingsDialog*> open;
  for (const QPointer<SettingsDialog>& p : settings_) {
    // A closed dialog lingers until its deferred deletion.
    if (p && p->isVisible()) open.push_back(p.data());
  }
  return open;
}

void MainWindow::RenameKey() {
  QTreeWidgetItem* item = tree_->currentItem();
  if (item == nullptr || item->parent() == nullptr) return;
  RenameDialog dialog(prompts_, this);
  dialog.mstrName = cls_.mstrKeyName;
  dialog.refusal = [this](const std::string& name) -> std::optional<Message> {
    const std::string why = cls_.RenameKeyRefusal(name);
    if (why.empty()) return std::nullopt;
    return Message{QMessageBox::Warning, kSetupMessageTitle, Q(why), QMessageBox::Ok, {}};
  };
  dialog.Prepare();
  prompts_.Exec(&dialog);
  if (!dialog.mblnSuccess) return;
  if (!cls_.RenameKey(dialog.mstrName)) {
    Warn(cls_.LastError());
    return;
  }
  // Deleting the node selects a neighbour, which loads another device.
  const std::string renamedKey = cls_.mstrKeyName;
  QTreeWidgetItem* classNode = ClassNode(cls_.mstrDeviceClass);
  shownItem_ = nullptr;
  delete item;
  if (classNode != nullptr) {
    QTreeWidgetItem* renamed = AddDeviceNode(classNode, renamedKey);
    tree_->setCurrentItem(renamed);
  }
  Refresh();
  ResetPanel();
}

Message MainWindow::LdnRefusalMessage(const std::string& why) const {
  if (why == OPOSCls::kSameNameMessage) {
    return {QMessageBox::NoIcon, kApplicationTitle, OPOSCls::kSameNameMessage, QMessageBox::Ok, {}};
  }
  return {QMessageBox::Warning, kSetupMessageTitle, Q(why), QMessageBox::Ok, {}};
}

void MainWindow::LdnResult(bool ok) {
  if (ok) {
    Refresh();
    if (!cls_.LastWarning().empty()) Warn(cls_.LastWarning());
  } else {
    prompts_.Show(this, LdnRefusalMessage(cls_.LastError()));
  }
}

void MainWindow::AddLdn() {
  AddLdnDialog dialog(this);
  dialog.Prepare();
  prompts_.Exec(&dialog);
  if (dialog.mblnSuccess) LdnResult(cls_.AddLDN(dialog.mstrName));
  if (!dialog.mblnCancel) ResetPanel();
}

void MainWindow::RemoveLdn() {
  if (ldn_->currentIndex() < 0) return;
  const std::string name = ldn_->currentData().toByteArray().toStdString();
  Message ask{QMessageBox::Question,
              kApplicationTitle,
              Q(RemoveLdnQuestion(name)),
              QMessageBox::Yes | QMessageBox::No,
              {}};
  if (prompts_.Show(this, ask) != QMessageBox::Yes) return;
  if (!cls_.RemoveLDN(name)) {
    Warn(cls_.LastError());
    return;
  }
  Refresh();
  ResetPanel();
}

void MainWindow::RenameLdn() {
  if (ldn_->currentIndex() < 0) return;
  const std::string current = ldn_->currentData().toByteArray().toStdString();
  RenameDialog dialog(prompts_, this);
  dialog.mstrName = current;
  dialog.refusal = [this](const std::string& name) -> std::optional<Message> {
    const std::string why = cls_.LdnRefusal(name);
    if (why.empty()) return std::nullopt;
    return LdnRefusalMessage(why);
  };
  dialog.Prepare();
  prompts_.Exec(&dialog);
  if (dialog.mblnSuccess) LdnResult(cls_.RenameLDN(current, dialog.mstrName));
  if (!dialog.mblnCancel) ResetPanel();
}

void MainWindow::OpenPortRange() {
  if (!portRange_) {
    portRange_ = new PortRangeDialog(this);
    portRange_->setAttribute(Qt::WA_DeleteOnClose);
  }
  portRange_->show();
  portRange_->raise();
  portRange_->activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  for (SettingsDialog* d : SettingsDialogs()) d->close();
  if (portRange_) portRange_->close();
  event->accept();
}

void MainWindow::Exit() {
  close();
  QApplication::quit();
}

void MainWindow::StartLogoTool() {
  QProcess process;
  process.setProgram(Q(options_.logoToolPath));
  if (process.startDetached()) return;
  prompts_.Show(this, {QMessageBox::Critical,
                       kNvImageTitle,
                       Q(NvLogoToolFailure(options_.logoToolPath, S(process.errorString()))),
                       QMessageBox::Ok,
                       {}});
}

}  // namespace opos::setup::gui
