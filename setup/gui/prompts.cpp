#include "setup/gui/prompts.h"

#include <QDialog>

namespace opos::setup::gui {

QMessageBox::StandardButton Prompts::Show(QWidget* parent, const Message& message) {
  QMessageBox box(message.icon, message.title, message.text, message.buttons, parent);
  if (!message.details.isEmpty()) box.setDetailedText(message.details);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

int Prompts::Exec(QDialog* dialog) { return dialog->exec(); }

}  // namespace opos::setup::gui
