#include "setup/gui/port_range_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

namespace opos::setup::gui {
namespace {

QSpinBox* RangeBox(QWidget* parent, const char* name, int value) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(1, 99);
  box->setValue(value);
  box->setReadOnly(true);
  return box;
}

}  // namespace

PortRangeDialog::PortRangeDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(" Port Range ");
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("Serial :", this), 0, 0);
  grid->addWidget(RangeBox(this, "txtSerial", 10), 0, 1);
  grid->addWidget(new QLabel("Parallel :", this), 1, 0);
  grid->addWidget(RangeBox(this, "txtParallel", 8), 1, 1);
  const QString fixed = "The port lists are fixed: COM1 to COM10 and LPT1 to LPT8.";
  auto* save = new QPushButton("&Save", this);
  auto* defaults = new QPushButton("&Default", this);
  for (QPushButton* b : {save, defaults}) {
    b->setEnabled(false);
    b->setToolTip(fixed);
    b->setAutoDefault(false);
  }
  save->setObjectName("cmdSave");
  defaults->setObjectName("cmdDefault");
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(save);
  row->addWidget(defaults);
  grid->addLayout(row, 2, 0, 1, 2);
  setToolTip(fixed);
}

}  // namespace opos::setup::gui
