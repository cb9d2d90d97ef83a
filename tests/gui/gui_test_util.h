// Shared by the window tests: one QApplication on the offscreen platform, a
// Prompts that records every message and answers from a script, and helpers to
// reach the real widgets by their names.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTreeWidget>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "setup/gui/prompts.h"

namespace opos::setup::gui::testing {

// Created before the first test, so that no test needs a display.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform warns of every window feature it lacks.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
      if (type == QtWarningMsg && text.startsWith("This plugin does not support")) return;
      std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
    });
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

class ScriptedPrompts : public Prompts {
 public:
  using DialogStep = std::function<void(QDialog*)>;

  QMessageBox::StandardButton Show(QWidget*, const Message& message) override {
    shown.push_back(message);
    if (!answers.empty()) {
      QMessageBox::StandardButton answer = answers.front();
      answers.pop_front();
      return answer;
    }
    if (message.buttons & QMessageBox::Yes) {
      ADD_FAILURE() << "unanswered question: " << message.text.toStdString();
      return QMessageBox::No;
    }
    return QMessageBox::Ok;
  }

  // Drives the dialog as a user would; the dialog closes itself through its buttons.
  int Exec(QDialog* dialog) override {
    if (steps.empty()) {
      ADD_FAILURE() << "unexpected dialog \"" << dialog->windowTitle().toStdString() << "\"";
      return QDialog::Rejected;
    }
    DialogStep step = steps.front();
    steps.pop_front();
    dialog->setResult(QDialog::Rejected);
    dialog->show();
    step(dialog);
    dialog->hide();
    return dialog->result();
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Message& m : shown) texts.push_back(m.text.toStdString());
    return texts;
  }

  std::vector<Message> shown;
  std::deque<QMessageBox::StandardButton> answers;
  std::deque<DialogStep> steps;
};

template <class T>
T* Find(QObject* root, const char* name) {
  T* found = root->findChild<T*>(name);
  EXPECT_NE(found, nullptr) << "no widget " << name;
  return found;
}

inline void Click(QObject* root, const char* name) {
  if (auto* b = Find<QAbstractButton>(root, name)) b->click();
}

inline bool Enabled(QObject* root, const char* name) {
  auto* w = Find<QWidget>(root, name);
  return w != nullptr && w->isEnabled();
}

inline std::string Text(QObject* root, const char* name) {
  if (auto* box = root->findChild<QComboBox*>(name)) return box->currentText().toStdString();
  auto* edit = Find<QLineEdit>(root, name);
  return edit ? edit->text().toStdString() : std::string();
}

inline std::vector<std::string> Items(QComboBox* box) {
  std::vector<std::string> items;
  for (int i = 0; i < box->count(); ++i) items.push_back(box->itemText(i).toStdString());
  return items;
}

// Chooses an entry as a user does: the entry becomes current and is activated.
inline bool Choose(QComboBox* box, const std::string& text) {
  const int i = box->findText(QString::fromStdString(text));
  if (i < 0) {
    ADD_FAILURE() << "no entry \"" << text << "\" in " << box->objectName().toStdString();
    return false;
  }
  box->setCurrentIndex(i);
  emit box->activated(i);
  return true;
}

inline std::vector<std::string> ChildTexts(QTreeWidgetItem* node) {
  std::vector<std::string> texts;
  for (int i = 0; node != nullptr && i < node->childCount(); ++i) {
    texts.push_back(node->child(i)->text(0).toStdString());
  }
  return texts;
}

}  // namespace opos::setup::gui::testing
