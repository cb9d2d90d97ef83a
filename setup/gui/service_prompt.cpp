#include "setup/gui/service_prompt.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace opos::setup::gui {

namespace {

QString Q(const std::string& s) {
  return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

int ShowQtPrompt(const platform::PromptDialog& d, const platform::PromptPress& onPress) {
  if (d.timeoutMs <= 0) return platform::kPromptUnanswered;
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(Q(d.caption));
  dialog.setModal(true);
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(Q(d.text), &dialog);
  layout->addWidget(label);
  auto* box = new QDialogButtonBox(&dialog);
  layout->addWidget(box);

  // Left unanswered the dialog closes by itself; every press restarts the wait.
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &dialog, &QDialog::reject);
  timer.start(d.timeoutMs);

  for (const platform::PromptButton& b : d.buttons) {
    QPushButton* button = box->addButton(Q(b.text), QDialogButtonBox::ActionRole);
    const int id = b.id;
    const bool closes = b.closes;
    QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &timer, &onPress, id, closes] {
      if (closes) {
        dialog.done(id);
        return;
      }
      timer.start();
      if (onPress) onPress(id);
    });
  }
  const int result = dialog.exec();
  return result == QDialog::Rejected ? platform::kPromptUnanswered : result;
}

}  // namespace

platform::PromptHook MakeQtPromptHook() {
  return &ShowQtPrompt;
}

}  // namespace opos::setup::gui
