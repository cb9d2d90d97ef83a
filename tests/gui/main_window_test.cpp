// The main window on a temporary registry store: the tree, the details panel and
// every action, driven through the real widgets.
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/gui/window_fixture.h"

namespace opos::setup::gui {
namespace {

using namespace testing;
using opos::setup::testing::kDrawerKey;
using opos::setup::testing::kPrinterKey;
using opos::setup::testing::TempDir;

[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TEST_F(SetupWindow, EmptyStoreShowsOnlyTheClassesAndCreatesTheirKeys) {
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Zentrim OPOS SETUP Ver 4.03");
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0).toStdString(), "POSPrinter");
  EXPECT_EQ(tree->topLevelItem(1)->text(0).toStdString(), "CashDrawer");
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);
  EXPECT_EQ(tree->topLevelItem(1)->childCount(), 0);
  EXPECT_TRUE(Exists(kPrinterKey));
  EXPECT_TRUE(Exists(kDrawerKey));
  EXPECT_EQ(Buttons(), "0000000");
  for (const char* always : {"cmdExecute7", "cmdExecute8", "cmdExecute9"}) {
    EXPECT_TRUE(Enabled(window.get(), always)) << always;
  }
  EXPECT_FALSE(Ldn()->isEnabled());
  Select("CashDrawer");
  EXPECT_EQ(Buttons(), "1000000");
}

TEST_F(SetupWindow, TreeAndPanelShowDevicesTheirNamesAndWhatMayBeDone) {
  Make("QMT500S", {"Receipt", "Front"});
  Make("Z9S");
  Make("StandardCashS", {"Till"});
  // A foreign device and one of the maker's configuration but no known type.
  const std::string foreign = kPrinterKey + "\\ACME1";
  modRegedit::SetStringValue(*store, foreign, "DeviceName", "ACME1");
  modRegedit::SetStringValue(*store, foreign, "ZADConfig", "ACME ZAD");
  const std::string odd = kPrinterKey + "\\Custom";
  modRegedit::SetStringValue(*store, odd, "DeviceName", "CUSTOM9");
  modRegedit::SetStringValue(*store, odd, "ZADConfig", "KELVORA ZAD 1.4");
  Open();

  // In the store's enumeration order.
  const auto keys = modRegedit::EnumSubKeys(*store, kPrinterKey);
  ASSERT_TRUE(keys.has_value());
  EXPECT_EQ(keys->size(), 4u);
  EXPECT_EQ(ChildTexts(ClassNode("POSPrinter")), *keys);
  EXPECT_EQ(ChildTexts(ClassNode("CashDrawer")), std::vector<std::string>{"StandardCashS"});
  const QColor grey(128, 128, 128);
  EXPECT_NE(DeviceNode("POSPrinter", "QMT500S")->foreground(0).color(), grey);
  EXPECT_NE(DeviceNode("CashDrawer", "StandardCashS")->foreground(0).color(), grey);
  EXPECT_EQ(DeviceNode("POSPrinter", "ACME1")->foreground(0).color(), grey);

  Select("POSPrinter", "QMT500S");
  EXPECT_EQ(Text(window.get(), "lblData0"), "QMT500S");
  EXPECT_EQ(Text(window.get(), "lblData1"), "KELVORA QMT500 Receipt Printer (Serial)");
  EXPECT_EQ(Text(window.get(), "lblData4"), "COM1");
  EXPECT_EQ(Items(Ldn()), (std::vector<std::string>{"Receipt", "Front"}));
  EXPECT_EQ(Ldn()->currentText().toStdString(), "Receipt");
  EXPECT_TRUE(Ldn()->isEnabled());
  EXPECT_EQ(Buttons(), "0111111");
  EXPECT_NE(TextColour(Find<QWidget>(window.get(), "lblData0")), grey);

  Select("POSPrinter", "Z9S");
  EXPECT_EQ(Ldn()->count(), 0);
  EXPECT_FALSE(Ldn()->isEnabled());
  EXPECT_EQ(Buttons(), "0111100");

  Select("CashDrawer", "StandardCashS");
  EXPECT_EQ(Items(Ldn()), std::vector<std::string>{"Till"});
  EXPECT_EQ(Text(window.get(), "lblData3"), "CashDrawer");

  Select("POSPrinter", "ACME1");
  EXPECT_EQ(Buttons(), "0100000");
  EXPECT_EQ(TextColour(Find<QWidget>(window.get(), "lblData0")), grey);
  EXPECT_EQ(TextColour(Find<QWidget>(window.get(), "lblData1")), grey);
  EXPECT_NE(TextColour(Find<QWidget>(window.get(), "lblData2")), grey);

  Select("POSPrinter", "Custom");
  EXPECT_EQ(Buttons(), "0111000");
  EXPECT_FALSE(Ldn()->isEnabled());

  Select("POSPrinter");
  EXPECT_EQ(Buttons(), "1000000");
  EXPECT_EQ(Text(window.get(), "lblData0"), "");
  EXPECT_TRUE(window->Device().mstrKeyName.empty());
  EXPECT_TRUE(prompts.shown.empty());
}

TEST_F(SetupWindow, AddDialogCreatesTheKeyUnderAFreeNameAndDropsTheScratchKey) {
  Open();
  auto addQmt500S = [this](QDialog* d) {
    EXPECT_EQ(d->windowTitle().toStdString(), "Add New Device");
    auto* bases = Find<QComboBox>(d, "cboData0");
    EXPECT_EQ(Items(bases), (std::vector<std::string>{"PICOR", "QMT500", "Z10", "Z10PLUS", "Z7", "Z9"}));
    ASSERT_TRUE(Choose(bases, "QMT500"));
    auto* types = Find<QComboBox>(d, "cboData1");
    EXPECT_EQ(Items(types), (std::vector<std::string>{"QMT500S", "QMT500P", "QMT500U"}));
    EXPECT_EQ(types->currentText().toStdString(), "QMT500S");
    EXPECT_FALSE(Enabled(d, "cboData2"));
    EXPECT_TRUE(modRegedit::SetStringValue(*store, modSetup::kScratchKey, "x", "y") == 0);
    Click(d, "cmdExecute2");
  };
  prompts.steps = {addQmt500S, addQmt500S};
  Select("POSPrinter");
  Click(window.get(), "cmdExecute0");
  EXPECT_FALSE(Enabled(window.get(), "cmdExecute0"));  // until the class is selected again
  Select("POSPrinter");
  Click(window.get(), "cmdExecute0");
  EXPECT_EQ(ChildTexts(ClassNode("POSPrinter")), (std::vector<std::string>{"QMT500S", "QMT500S_2"}));
  EXPECT_TRUE(Exists(kPrinterKey + "\\QMT500S"));
  EXPECT_TRUE(Exists(kPrinterKey + "\\QMT500S_2"));
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey + "\\QMT500S_2", "Port"), "COM1");
  EXPECT_FALSE(Exists(modSetup::kScratchKey));
  EXPECT_EQ(Text(window.get(), "lblData0"), "");
  EXPECT_EQ(Buttons().substr(3), "0000");
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().front();

  // Cancelled: nothing is created, and the scratch key goes as well.
  prompts.steps = {[this](QDialog* d) {
    modRegedit::SetStringValue(*store, modSetup::kScratchKey, "x", "y");
    Click(d, "cmdExecute1");
  }};
  Select("POSPrinter");
  Click(window.get(), "cmdExecute0");
  EXPECT_EQ(ClassNode("POSPrinter")->childCount(), 2);
  EXPECT_FALSE(Exists(modSetup::kScratchKey));
}

TEST_F(SetupWindow, AddDialogListsUsbPortsFromThePresentPrinters) {
  sys.AddDevice("1-1", "0483", "a036");
  sys.AddDevice("1-2", "0483", "a049");
  sys.AddDevice("1-3", "067b", "2305");
  Open();
  prompts.steps = {[this](QDialog* d) {
    auto* bases = Find<QComboBox>(d, "cboData0");
    auto* types = Find<QComboBox>(d, "cboData1");
    auto* ports = Find<QComboBox>(d, "cboData2");
    ASSERT_TRUE(Choose(bases, "QMT500"));
    ASSERT_TRUE(Choose(types, "QMT500U"));
    EXPECT_EQ(Items(ports), (std::vector<std::string>{"USB001", "USB002", "USB003"}));
    EXPECT_TRUE(ports->isEnabled());
    EXPECT_TRUE(Enabled(d, "cmdExecute2"));
    // Chosen again, the list stays as it was without looking again.
    sys.Remove("1-3");
    ASSERT_TRUE(Choose(types, "QMT500U"));
    EXPECT_EQ(ports->count(), 3);
    ASSERT_TRUE(Choose(types, "QMT500S"));
    EXPECT_EQ(ports->count(), 0);
    EXPECT_FALSE(ports->isEnabled());
    EXPECT_TRUE(Enabled(d, "cmdExecute2"));
    // Now looked for afresh: none left.
    sys.Remove("1-1");
    sys.Remove("1-2");
    ASSERT_TRUE(Choose(types, "QMT500U"));
    EXPECT_FALSE(ports->isEnabled());
    EXPECT_FALSE(Enabled(d, "cmdExecute2"));
    Click(d, "cmdExecute2");  // disabled: adds nothing
    Click(d, "cmdExecute1");
  }};
  Select("POSPrinter");
  Click(window.get(), "cmdExecute0");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "Not Connect USB Device and Power off!");
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "Zentrim OPOS Setup");
  EXPECT_EQ(ClassNode("POSPrinter")->childCount(), 0);
}

TEST_F(SetupWindow, RemoveDeviceTakesItsLogicalNamesAndLeavesOthers) {
  Make("QMT500S", {"Receipt", "Front"});
  Make("Z9S", {"Back"});
  Open();
  Select("POSPrinter", "QMT500S");
  prompts.answers = {QMessageBox::No};
  Click(window.get(), "cmdExecute1");
  EXPECT_TRUE(Exists(kPrinterKey + "\\QMT500S"));
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "Do you want to remove all of information about 'QMT500S'?");
  EXPECT_EQ(prompts.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);

  prompts.answers = {QMessageBox::Yes};
  Click(window.get(), "cmdExecute1");
  EXPECT_FALSE(Exists(kPrinterKey + "\\QMT500S"));
  EXPECT_EQ(LdnTarget(kPrinterKey, "Receipt"), "");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Front"), "");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Back"), "Z9S");
  EXPECT_EQ(ChildTexts(ClassNode("POSPrinter")), std::vector<std::string>{"Z9S"});
  EXPECT_EQ(Text(window.get(), "lblData0"), "");
}

// Types the text into the rename dialog's edit box, replacing what is there.
void TypeName(QDialog* d, const QString& text) {
  auto* edit = Find<QLineEdit>(d, "txtName");
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

TEST_F(SetupWindow, RenameKeyMovesTheDeviceAndItsNames) {
  Make("QMT500S", {"Receipt"});
  Open();
  Select("POSPrinter", "QMT500S");
  prompts.steps = {[](QDialog* d) {
    EXPECT_EQ(d->windowTitle().toStdString(), "Rename Device Name Key");
    EXPECT_EQ(Text(d, "txtCurrent"), "QMT500S");
    EXPECT_FALSE(Enabled(d, "cmdExecute0"));
    TypeName(d, "");
    EXPECT_FALSE(Enabled(d, "cmdExecute0"));
    TypeName(d, "QMT500S");
    EXPECT_FALSE(Enabled(d, "cmdExecute0"));
    TypeName(d, "FrontDesk");
    EXPECT_TRUE(Enabled(d, "cmdExecute0"));
    Click(d, "cmdExecute0");
  }};
  prompts.answers = {QMessageBox::Ok, QMessageBox::Yes};
  Click(window.get(), "cmdExecute3");
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "Rename Device Name Key");
  EXPECT_EQ(prompts.shown[1].text.toStdString(),
            "Renaming Device Name Key from 'QMT500S' to 'FrontDesk' may affect some application "
            "settings.\r\nDo you want to rename it?");
  EXPECT_FALSE(Exists(kPrinterKey + "\\QMT500S"));
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey + "\\FrontDesk", "DeviceName"), "QMT500S");
  EXPECT_EQ(modRegedit::GetDwordValue(*store, kPrinterKey + "\\FrontDesk", "Baudrate"), 6);
  EXPECT_EQ(LdnTarget(kPrinterKey, "Receipt"), "FrontDesk");
  EXPECT_EQ(ChildTexts(ClassNode("POSPrinter")), std::vector<std::string>{"FrontDesk"});
  EXPECT_EQ(tree->currentItem()->text(0).toStdString(), "FrontDesk");
  EXPECT_EQ(Text(window.get(), "lblData0"), "");
}

TEST_F(SetupWindow, RenameKeyToATakenNameIsRefusedAndChangesNothing) {
  Make("QMT500S", {"Receipt"});
  Make("Z9S");
  Open();
  Select("POSPrinter", "QMT500S");
  const std::string before = store.Dump();
  // Refused before the confirmation boxes; the dialog stays open for another name.
  prompts.steps = {[](QDialog* d) {
    TypeName(d, "z9s");
    Click(d, "cmdExecute0");
    EXPECT_TRUE(d->isVisible());
    Click(d, "cmdExecute1");
  }};
  prompts.answers = {QMessageBox::Ok};
  Click(window.get(), "cmdExecute3");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "Zentrim OPOS Setup");
  EXPECT_NE(prompts.shown[0].text.toStdString().find("already exists"), std::string::npos)
      << prompts.shown[0].text.toStdString();
  EXPECT_EQ(store.Dump(), before);
  EXPECT_EQ(ChildTexts(ClassNode("POSPrinter")), (std::vector<std::string>{"QMT500S", "Z9S"}));

  // Answering No keeps the dialog open; Cancel then leaves everything as it was.
  prompts.shown.clear();
  prompts.steps = {[](QDialog* d) {
    TypeName(d, "Other");
    Click(d, "cmdExecute0");
    EXPECT_TRUE(d->isVisible());
    Click(d, "cmdExecute1");
    EXPECT_FALSE(d->isVisible());
  }};
  prompts.answers = {QMessageBox::Ok, QMessageBox::No};
  Click(window.get(), "cmdExecute3");
  EXPECT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(store.Dump(), before);
}

TEST_F(SetupWindow, LogicalNamesAreAddedRenamedAndRemoved) {
  Make("QMT500S");
  Open();
  Select("POSPrinter", "QMT500S");
  prompts.steps = {[](QDialog* d) {
    EXPECT_EQ(d->windowTitle().toStdString(), "Add New LDN");
    EXPECT_FALSE(Enabled(d, "cmdExecute0"));
    QTest::keyClicks(Find<QLineEdit>(d, "txtName"), "Receipt");
    EXPECT_TRUE(Enabled(d, "cmdExecute0"));
    QTest::keyClick(Find<QLineEdit>(d, "txtName"), Qt::Key_Return);  // presses OK
  }};
  Click(window.get(), "cmdExecute4");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Receipt"), "QMT500S");
  EXPECT_EQ(Ldn()->count(), 0);  // the panel is cleared after the action
  Select("POSPrinter");
  Select("POSPrinter", "QMT500S");
  EXPECT_EQ(Items(Ldn()), std::vector<std::string>{"Receipt"});

  // The device's own key name is no logical name.
  prompts.steps = {[](QDialog* d) {
    QTest::keyClicks(Find<QLineEdit>(d, "txtName"), "QMT500S");
    Click(d, "cmdExecute0");
  }};
  Click(window.get(), "cmdExecute4");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.toStdString(),
            "Cannot register Logical Device Name because Device Name and Logical Device Name are "
            "the same.");
  EXPECT_EQ(LdnTarget(kPrinterKey, "QMT500S"), "");

  Select("POSPrinter");
  Select("POSPrinter", "QMT500S");
  prompts.steps = {[](QDialog* d) {
    EXPECT_EQ(Text(d, "txtCurrent"), "Receipt");
    TypeName(d, "Counter");
    QTest::keyClick(Find<QLineEdit>(d, "txtName"), Qt::Key_Return);  // presses Change
  }};
  prompts.answers = {QMessageBox::Ok, QMessageBox::Yes};
  Click(window.get(), "cmdExecute6");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Receipt"), "");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Counter"), "QMT500S");

  Select("POSPrinter");
  Select("POSPrinter", "QMT500S");
  prompts.shown.clear();
  prompts.answers = {QMessageBox::No};
  Click(window.get(), "cmdExecute5");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Counter"), "QMT500S");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.toStdString(),
            "Logical Device Name 'Counter' is currently used. Do you want to remove it?");
  EXPECT_EQ(prompts.shown[0].icon, QMessageBox::Question);
  prompts.answers = {QMessageBox::Yes};
  Click(window.get(), "cmdExecute5");
  EXPECT_EQ(LdnTarget(kPrinterKey, "Counter"), "");
  EXPECT_EQ(Ldn()->count(), 0);
}

TEST_F(SetupWindow, CancelledNameDialogKeepsThePanelAndBadNamesAreExplained) {
  Make("QMT500S", {"Receipt"});
  Open();
  Select("POSPrinter", "QMT500S");
  prompts.steps = {[](QDialog* d) { Click(d, "cmdExecute1"); }};
  Click(window.get(), "cmdExecute4");
  EXPECT_EQ(Text(window.get(), "lblData0"), "QMT500S");
  EXPECT_EQ(Buttons(), "0111111");

  // A name with a control character cannot be stored as the Service Objects read it.
  prompts.steps = {[](QDialog* d) {
    Find<QLineEdit>(d, "txtName")->setText("Bad\tName");
    Click(d, "cmdExecute0");
  }};
  Click(window.get(), "cmdExecute4");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_NE(prompts.shown[0].text.toStdString().find("control character"), std::string::npos);
  EXPECT_EQ(LdnTarget(kPrinterKey, "Bad\tName"), "");
}

TEST_F(SetupWindow, LogoToolStartsByPathOrTheFailureIsShown) {
  Open();
  Click(window.get(), "cmdExecute9");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "Zentrim NVImage");
  EXPECT_EQ(prompts.shown[0].icon, QMessageBox::Critical);
  // It names the path it tried and how to give another.
  EXPECT_NE(prompts.shown[0].text.toStdString().find("\"" + logoTool + "\""), std::string::npos)
      << prompts.shown[0].text.toStdString();
  EXPECT_NE(prompts.shown[0].text.toStdString().find("OPOS_NVLOGOTOOL"), std::string::npos);

  TempDir dir;
  const std::string marker = dir.File("started");
  logoTool = dir.File("NVLogoTool");
  opos::setup::testing::WriteFile(logoTool, "#!/bin/sh\ntouch '" + marker + "'\n");
  std::filesystem::permissions(logoTool, std::filesystem::perms::owner_all);
  Open();
  prompts.shown.clear();
  Click(window.get(), "cmdExecute9");
  EXPECT_TRUE(prompts.shown.empty());
  for (int i = 0; i < 100 && !std::filesystem::exists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST_F(SetupWindow, ExitClosesTheModelessDialogs) {
  Make("QMT500S");
  Open();
  Select("POSPrinter", "QMT500S");
  Click(window.get(), "cmdExecute2");
  Click(window.get(), "cmdExecute7");
  ASSERT_EQ(window->SettingsDialogs().size(), 1u);
  QPointer<QDialog> settings = window->SettingsDialogs().front();
  ASSERT_NE(window->PortRange(), nullptr);
  EXPECT_EQ(window->PortRange()->windowTitle().toStdString(), " Port Range ");
  EXPECT_TRUE(settings->isVisible());
  Click(window.get(), "cmdExecute8");
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(settings.isNull() || !settings->isVisible());
}

// The real message box, answered through the screen as a person would.
TEST_F(SetupWindow, RealMessageBoxCarriesTheTitleAndText) {
  Prompts real;
  MainWindow::Options options;
  options.store = &*store;
  options.modelDir = kModelDir;
  MainWindow w(std::move(options), real);
  w.show();
  auto* t = Find<QTreeWidget>(&w, "TreeView");
  t->setCurrentItem(t->topLevelItem(1));
  std::string title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle().toStdString();
    text = box->text().toStdString();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  // A drawer before any printer: refused with the message, and no dialog opens.
  Click(&w, "cmdExecute0");
  EXPECT_EQ(title, "Zentrim OPOS Setup");
  EXPECT_EQ(text, "Not Installed Printer can connect with the CashDrawer!!");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(t->topLevelItem(1)->childCount(), 0);
}

}  // namespace
}  // namespace opos::setup::gui
