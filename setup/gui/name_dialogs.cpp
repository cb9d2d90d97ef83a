#include "setup/gui/name_dialogs.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "setup/main_panel.h"

namespace opos::setup::gui {

RenameDialog::RenameDialog(Prompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(kRenameTitle);
  current_ = new QLineEdit(this);
  current_->setObjectName("txtCurrent");
  current_->setReadOnly(true);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("txtName");
  change_ = new QPushButton("&Change", this);
  change_->setObjectName("cmdExecute0");
  change_->setAutoDefault(false);
  change_->setDefault(true);  // Return changes the name
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cmdExecute1");
  cancel->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Current LDN :", this), 0, 0);
  grid->addWidget(current_, 0, 1);
  grid->addWidget(new QLabel("Change LDN :", this), 1, 0);
  grid->addWidget(edit_, 1, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(change_);
  row->addWidget(cancel);
  grid->addLayout(row, 2, 0, 1, 2);
  edit_->setMinimumWidth(240);

  // Every change of the text, typed or pasted, decides the button.
  connect(edit_, &QLineEdit::textChanged, this, [this] { UpdateButton(); });
  connect(change_, &QPushButton::clicked, this, [this] { Change(); });
  connect(cancel, &QPushButton::clicked, this, [this] {
    mblnCancel = true;
    reject();
  });
}

void RenameDialog::Prepare() {
  mblnSuccess = false;
  mblnCancel = false;
  setWindowTitle(kRenameTitle);
  current_->setText(Q(mstrName));
  edit_->setText(Q(mstrName));
  edit_->selectAll();
  edit_->setFocus();
  UpdateButton();
}

void RenameDialog::UpdateButton() {
  change_->setEnabled(RenameAccepted(mstrName, S(edit_->text())));
}

void RenameDialog::Change() {
  const std::string renamed = S(edit_->text());
  if (!RenameAccepted(mstrName, renamed)) return;
  if (refusal) {
    if (const std::optional<Message> refused = refusal(renamed)) {
      prompts_.Show(this, *refused);
      return;
    }
  }
  prompts_.Show(this, {QMessageBox::NoIcon, kApplicationTitle, kRenameTitle, QMessageBox::Ok, {}});
  Message ask{QMessageBox::Question,
              kApplicationTitle,
              Q(RenameQuestion(mstrName, renamed)),
              QMessageBox::Yes | QMessageBox::No,
              {}};
  if (prompts_.Show(this, ask) != QMessageBox::Yes) return;
  mstrName = renamed;
  mblnSuccess = true;
  accept();
}

AddLdnDialog::AddLdnDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Add New LDN");
  edit_ = new QLineEdit(this);
  edit_->setObjectName("txtName");
  edit_->setMinimumWidth(240);
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("cmdExecute0");
  ok_->setAutoDefault(false);
  ok_->setDefault(true);  // Return adds the name
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cmdExecute1");
  cancel->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("New LDN (Unit1)  :", this), 0, 0);
  grid->addWidget(edit_, 0, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok_);
  row->addWidget(cancel);
  grid->addLayout(row, 1, 0, 1, 2);

  connect(edit_, &QLineEdit::textChanged, this,
          [this] { ok_->setEnabled(NewLdnAccepted(S(edit_->text()))); });
  connect(ok_, &QPushButton::clicked, this, [this] {
    if (!NewLdnAccepted(S(edit_->text()))) return;
    mstrName = S(edit_->text());
    mblnSuccess = true;
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, [this] {
    mblnCancel = true;
    reject();
  });
}

void AddLdnDialog::Prepare() {
  mblnSuccess = false;
  mblnCancel = false;
  mstrName.clear();
  edit_->clear();
  edit_->setFocus();
  ok_->setEnabled(false);
}

}  // namespace opos::setup::gui
