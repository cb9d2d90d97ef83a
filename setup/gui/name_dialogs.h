// The two small name dialogs of the main window: the rename dialog (for device
// keys and logical names alike) and the add-logical-name dialog. They only
// collect a name; the main window acts on it after they close.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "setup/gui/prompts.h"

class QLineEdit;
class QPushButton;

namespace opos::setup::gui {

class RenameDialog : public QDialog {
 public:
  RenameDialog(Prompts& prompts, QWidget* parent = nullptr);

  // Set mstrName before Prepare; read the three after the dialog closed.
  std::string mstrName;
  bool mblnSuccess = false;
  bool mblnCancel = false;
  // The message that refuses a new name (taken, invalid), asked before the
  // confirmation boxes; the dialog stays open for another name.
  std::function<std::optional<Message>(const std::string& name)> refusal;

  // Shows mstrName as the current name and resets the results.
  void Prepare();

 private:
  void Change();
  void UpdateButton();

  Prompts& prompts_;
  QLineEdit* current_;
  QLineEdit* edit_;
  QPushButton* change_;
};

class AddLdnDialog : public QDialog {
 public:
  AddLdnDialog(QWidget* parent = nullptr);

  std::string mstrName;
  bool mblnSuccess = false;
  bool mblnCancel = false;

  void Prepare();

 private:
  QLineEdit* edit_;
  QPushButton* ok_;
};

}  // namespace opos::setup::gui
