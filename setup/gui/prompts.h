// How the windows ask and tell the user: every message box and every modal
// dialog goes through one Prompts object, so that a host (or a test) can
// answer them without a person at the screen.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace opos::setup::gui {

struct Message {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString title;
  QString text;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QString details;  // shown behind "Show Details..." when not empty
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Shows the message modally; returns the button pressed.
  virtual QMessageBox::StandardButton Show(QWidget* parent, const Message& message);
  // Runs a modal dialog until it closes; returns its result.
  virtual int Exec(QDialog* dialog);
};

// The application's own title, for message boxes that carry no title of their own.
inline constexpr const char kApplicationTitle[] = "devsetup";

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
inline std::string S(const QString& text) {
  return text.toStdString();
}

}  // namespace opos::setup::gui
