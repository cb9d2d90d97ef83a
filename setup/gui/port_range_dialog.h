// The port-range dialog (modeless). The port lists of the settings dialog are
// fixed (COM1 ... COM10, LPT1 ... LPT8) and nothing stores another range, so the
// dialog shows them and offers no button that would pretend to save.
#pragma once

#include <QDialog>

namespace opos::setup::gui {

class PortRangeDialog : public QDialog {
 public:
  explicit PortRangeDialog(QWidget* parent = nullptr);
};

}  // namespace opos::setup::gui
