// The main window on a temporary registry store with devices made from the
// shipped model files, for the window and settings dialog tests.
#pragma once

#include <QTest>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "setup/gui/main_window.h"
#include "setup/mod_regedit.h"
#include "setup/mod_setup.h"
#include "tests/gui/gui_test_util.h"
#include "tests/setup/setup_test_util.h"

namespace opos::setup::gui::testing {

using opos::setup::testing::FakeSysfs;
using opos::setup::testing::kModelDir;
using opos::setup::testing::TempStore;

inline std::string ModelFile(const std::string& type) {
  if (type.rfind("StandardCash", 0) == 0) return kModelDir + "/CashDrawer.inf";
  if (type.rfind("QMT500", 0) == 0) return kModelDir + "/KLP_QMT500.inf";
  if (type.rfind("Z9", 0) == 0) return kModelDir + "/KLP_Z9.inf";
  return kModelDir + "/KLP_PICOR.inf";
}

class SetupWindow : public ::testing::Test {
 protected:
  // A device created from the shipped model files, with its logical names.
  std::string Make(const std::string& type, const std::vector<std::string>& ldns = {}) {
    OPOSCls cls(*store);
    EXPECT_TRUE(cls.Read(ModelFile(type), type)) << cls.LastError();
    for (const std::string& n : ldns) EXPECT_TRUE(cls.AddLDN(n)) << cls.LastError();
    return cls.mstrKeyName;
  }
  void Open() {
    MainWindow::Options options;
    options.store = &*store;
    options.modelDir = kModelDir;
    options.logoToolPath = logoTool;
    options.tester = tester;
    window = std::make_unique<MainWindow>(std::move(options), prompts);
    window->show();
    tree = Find<QTreeWidget>(window.get(), "TreeView");
  }
  QTreeWidgetItem* ClassNode(const std::string& name) {
    auto found = tree->findItems(QString::fromStdString(name), Qt::MatchExactly);
    return found.empty() ? nullptr : found.front();
  }
  QTreeWidgetItem* DeviceNode(const std::string& cls, const std::string& key) {
    QTreeWidgetItem* node = ClassNode(cls);
    for (int i = 0; node != nullptr && i < node->childCount(); ++i) {
      if (node->child(i)->text(0).toStdString() == key) return node->child(i);
    }
    return nullptr;
  }
  // Clicks the node as a user does (a click on the current node selects it again).
  void Select(const std::string& cls, const std::string& key = {}) {
    QTreeWidgetItem* item = key.empty() ? ClassNode(cls) : DeviceNode(cls, key);
    ASSERT_NE(item, nullptr) << cls << "\\" << key;
    tree->scrollToItem(item);
    const QRect rect = tree->visualItemRect(item);
    ASSERT_TRUE(rect.isValid());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(tree->currentItem(), item);
  }
  // Enabled state of cmdExecute 0 ... 6 as a string of 0/1.
  std::string Buttons() {
    std::string s;
    for (int i = 0; i < 7; ++i)
      s += Enabled(window.get(), ("cmdExecute" + std::to_string(i)).c_str()) ? '1' : '0';
    return s;
  }
  QComboBox* Ldn() { return Find<QComboBox>(window.get(), "cboLDN"); }
  bool Exists(const std::string& path) { return modRegedit::KeyExists(*store, path); }
  std::string LdnTarget(const std::string& classKey, const std::string& name) {
    return modRegedit::GetStringValue(*store, classKey, name);
  }
  static QColor TextColour(QWidget* w) { return w->palette().color(QPalette::Text); }

  FakeSysfs sys;
  TempStore store;
  ScriptedPrompts prompts;
  std::string logoTool = "/nonexistent/NVLogoTool";
  TestRunner tester;
  std::unique_ptr<MainWindow> window;
  QTreeWidget* tree = nullptr;
};

}  // namespace opos::setup::gui::testing
