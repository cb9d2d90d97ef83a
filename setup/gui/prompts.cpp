#include "setup/gui/prompts.h"

#include <QDialog>

namespace opos::setup::gui {

QMessageBox::StandardButton Prompts::Show(QWidget* parent, const Message& message) {
  // The system's texts break lines with CR LF; a label breaks them at LF alone.
  QString text = message.text;
  text.replace("\r\n", "\n");
  QMessageBox box(message.icon, message.title, text, message.buttons, parent);
  if (!message.details.isEmpty()) box.setDetailedText(message.details);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

int Prompts::Exec(QDialog* dialog) {
  return dialog->exec();
}

}  // namespace opos::setup::gui
