#include "setup/gui/settings_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "setup/main_panel.h"
#include "setup/mod_setup.h"
#include "setup/text.h"

namespace opos::setup::gui {
namespace {

// cboData indexes.
enum { kPort = 0, kBaud, kBits, kParity, kStop, kHandShake, kOpenLevel, kPinNo };
// txtData indexes.
enum { kInputBuf = 0, kOutputBuf, kInputSleep, kTimeout, kPulseOn, kPulseOff, kImageSleep };

// The setting names of the txtData boxes, as SetFormValue takes them.
const char* const kTextSettings[] = {"InputBuf",    "OutputBuf",    "InputSleep", "Timeout",
                                     "PulseOnTime", "PulseOffTime", "ImageSleep"};
// Their labels: a message names the box the user sees.
const char* const kTextLabels[] = {
    "InputBuf",      "OutputBuf",      "Input Sleep Time", "Output Interval Time",
    "Pulse ON Time", "Pulse OFF Time", "Image Sleep Time"};

// Fills a drop-down list; a current text that is not among the entries is
// added so that it is shown (and kept) as it is.
void Fill(QComboBox* box, const std::vector<std::string>& entries, const std::string& current) {
  box->clear();
  for (const std::string& e : entries) box->addItem(Q(e));
  if (current.empty()) {
    box->setCurrentIndex(-1);
    return;
  }
  int at = box->findText(Q(current), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (at < 0) {
    box->addItem(Q(current));
    at = box->count() - 1;
  }
  box->setCurrentIndex(at);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += (text.empty() ? "" : "\n") + l;
  return text;
}

}  // namespace

SettingsDialog::SettingsDialog(Options options, Prompts& prompts, QWidget* parent)
    : QDialog(parent), options_(std::move(options)), prompts_(prompts), device_(*options_.store) {
  auto* nameFrame = new QGroupBox("Device Name", this);
  name_ = new QLabel(nameFrame);
  name_->setObjectName("lblName0");
  auto* nameLayout = new QHBoxLayout(nameFrame);
  nameLayout->addWidget(name_);

  for (size_t i = 0; i < boxes_.size(); ++i) {
    boxes_[i] = new QComboBox(this);
    boxes_[i]->setObjectName(QString("cboData%1").arg(i));
    boxes_[i]->setMinimumWidth(140);
  }
  for (size_t i = 0; i < texts_.size(); ++i) {
    texts_[i] = new QLineEdit(this);
    texts_[i]->setObjectName(QString("txtData%1").arg(i));
    texts_[i]->setMaximumWidth(120);
  }

  auto* port = new QGridLayout;
  int row = 0;
  auto addRow = [&](QGridLayout* grid, int r, const char* label, QWidget* w, bool msec) {
    grid->addWidget(new QLabel(label, this), r, 0);
    grid->addWidget(w, r, 1);
    if (msec) grid->addWidget(new QLabel("msec", this), r, 2);
  };
  addRow(port, row++, "Port :", boxes_[kPort], false);
  addRow(port, row++, "BaudRate :", boxes_[kBaud], false);
  addRow(port, row++, "Bit Length :", boxes_[kBits], false);
  addRow(port, row++, "Parity :", boxes_[kParity], false);
  addRow(port, row++, "StopBit :", boxes_[kStop], false);
  addRow(port, row++, "Handshake :", boxes_[kHandShake], false);
  auto label = [](int box) { return (std::string(kTextLabels[box]) + " :"); };
  addRow(port, row++, label(kInputBuf).c_str(), texts_[kInputBuf], false);
  addRow(port, row++, label(kOutputBuf).c_str(), texts_[kOutputBuf], false);
  addRow(port, row++, label(kInputSleep).c_str(), texts_[kInputSleep], true);
  addRow(port, row++, label(kTimeout).c_str(), texts_[kTimeout], true);
  addRow(port, row++, label(kImageSleep).c_str(), texts_[kImageSleep], true);

  auto* drawerFrame = new QGroupBox("CashDrawer Settings", this);
  auto* drawer = new QGridLayout(drawerFrame);
  addRow(drawer, 0, "Open Level :", boxes_[kOpenLevel], false);
  addRow(drawer, 1, "Pin No :", boxes_[kPinNo], false);
  addRow(drawer, 2, label(kPulseOn).c_str(), texts_[kPulseOn], false);
  addRow(drawer, 3, label(kPulseOff).c_str(), texts_[kPulseOff], false);

  test_ = new QPushButton("Printer &Test", this);
  test_->setObjectName("cmdExecute0");
  test_->setAutoDefault(false);
  ok_ = new QPushButton("&Ok", this);
  ok_->setObjectName("cmdExecute1");
  ok_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(test_);
  buttons->addWidget(ok_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(nameFrame);
  layout->addLayout(port);
  layout->addWidget(drawerFrame);
  layout->addLayout(buttons);

  connect(ok_, &QPushButton::clicked, this, [this] { Ok(); });
  connect(test_, &QPushButton::clicked, this, [this] { Test(); });
}

void SettingsDialog::Tell(QMessageBox::Icon icon, const std::string& title, const std::string& text,
                          const std::string& details) {
  prompts_.Show(this, {icon, Q(title), Q(text), QMessageBox::Ok, Q(details)});
}

void SettingsDialog::Open(const OPOSCls& device) {
  device_ = device;
  form_ = OpenSettingsForm(device_);
  setWindowTitle(Q(form_.title));
  name_->setText(Q(device_.mstrDeviceName));

  if (form_.portShown) {
    Fill(boxes_[kPort], form_.portChoices, form_.port);
  } else {
    boxes_[kPort]->clear();
  }
  boxes_[kPort]->setEnabled(form_.portShown);

  const std::pair<int, const ChoiceBox*> choices[] = {{kBaud, &form_.baudrate},
                                                      {kBits, &form_.bitLength},
                                                      {kParity, &form_.parity},
                                                      {kStop, &form_.stop},
                                                      {kHandShake, &form_.handShake}};
  for (const auto& [index, box] : choices) {
    std::vector<std::string> offers;
    for (const modSetup::CodeText& ct : box->offers) offers.push_back(ct.second);
    Fill(boxes_[index], offers, box->text);
    boxes_[index]->setEnabled(box->enabled);
  }

  Fill(boxes_[kOpenLevel], form_.openLevelChoices, form_.openLevel);
  Fill(boxes_[kPinNo], form_.pinChoices, form_.pinNo);
  texts_[kPulseOn]->setText(Q(form_.pulseOnTime));
  texts_[kPulseOff]->setText(Q(form_.pulseOffTime));
  for (QWidget* w : {static_cast<QWidget*>(boxes_[kOpenLevel]), static_cast<QWidget*>(boxes_[kPinNo]),
                     static_cast<QWidget*>(texts_[kPulseOn]), static_cast<QWidget*>(texts_[kPulseOff])}) {
    w->setEnabled(form_.drawerEnabled);
  }

  texts_[kInputBuf]->setText(Q(form_.inputBuf));
  texts_[kOutputBuf]->setText(Q(form_.outputBuf));
  texts_[kInputSleep]->setText(Q(form_.inputSleep));
  texts_[kTimeout]->setText(Q(form_.timeout));
  texts_[kImageSleep]->setText(Q(form_.imageSleep));

  test_->setEnabled(static_cast<bool>(options_.tester));
  if (!options_.tester) {
    test_->setToolTip("This devsetup was built without the OPOS Control Objects.");
  }
}

bool SettingsDialog::Collect(SettingsForm* form, std::vector<std::string>* errors) const {
  if (form->portShown) form->port = S(boxes_[kPort]->currentText());
  const std::pair<int, ChoiceBox*> choices[] = {{kBaud, &form->baudrate},
                                                {kBits, &form->bitLength},
                                                {kParity, &form->parity},
                                                {kStop, &form->stop},
                                                {kHandShake, &form->handShake}};
  for (const auto& [index, box] : choices) {
    box->text = box->enabled ? S(boxes_[index]->currentText()) : std::string();
  }
  for (size_t i = 0; i < texts_.size(); ++i) {
    const bool drawerText = i == kPulseOn || i == kPulseOff;
    if (drawerText && !form->drawerEnabled) continue;
    std::string error;
    if (!SetFormValue(form, device_, kTextSettings[i], TrimSpaces(S(texts_[i]->text())), &error,
                      kTextLabels[i])) {
      errors->push_back(error);
    }
  }
  if (form->drawerEnabled) {
    form->openLevel = S(boxes_[kOpenLevel]->currentText());
    form->pinNo = S(boxes_[kPinNo]->currentText());
  }
  return errors->empty();
}

bool SettingsDialog::Apply() {
  SettingsForm form = form_;
  std::vector<std::string> errors;
  if (!Collect(&form, &errors)) {
    Tell(QMessageBox::Warning, kSetupMessageTitle, "The settings were not saved:\n" + Joined(errors));
    return false;
  }
  OPOSCls fresh(*options_.store);
  if (!fresh.Load(device_.mstrDeviceClass, device_.mstrKeyName)) {
    Tell(QMessageBox::Warning, kSetupMessageTitle,
         "The settings of '" + device_.mstrKeyName + "' were not saved: " + fresh.LastError());
    return false;
  }
  std::vector<std::string> unreadable = fresh.UnreadableValues();
  if (!unreadable.empty()) {
    std::string names;
    for (const std::string& n : unreadable) names += (names.empty() ? "" : ", ") + n;
    Tell(QMessageBox::Warning, kSetupMessageTitle,
         "The settings of '" + device_.mstrKeyName +
             "' were not saved: the device holds values this tool cannot read back as stored (" + names +
             "), which saving would overwrite.");
    return false;
  }
  std::vector<std::string> notes;
  ApplySettingsForm(form, &fresh, &notes);
  if (!fresh.Save(false)) {
    Tell(QMessageBox::Warning, kSetupMessageTitle,
         "The settings of '" + device_.mstrKeyName + "' were not saved: " + fresh.LastError());
    return false;
  }
  device_ = fresh;
  form_ = form;
  if (options_.onSaved) options_.onSaved(device_);
  if (!notes.empty()) Tell(QMessageBox::Information, kSetupMessageTitle, Joined(notes));
  return true;
}

void SettingsDialog::Ok() {
  if (Apply()) accept();
}

void SettingsDialog::Test() {
  if (!Apply() || !options_.tester) return;
  std::vector<std::string> notes;
  std::string unavailable;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::vector<TestMessage> messages = options_.tester(device_, options_.store->Path(), &notes, &unavailable);
  QApplication::restoreOverrideCursor();
  if (!unavailable.empty()) {
    Tell(QMessageBox::Warning, kSetupMessageTitle, "The test is not available: " + unavailable);
    return;
  }
  for (const TestMessage& m : messages) Tell(QMessageBox::NoIcon, m.title, m.text, Joined(notes));
}

}  // namespace opos::setup::gui
