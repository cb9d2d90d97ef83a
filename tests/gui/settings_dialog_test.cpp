// The settings dialog opened from the main window: what it shows per port kind,
// what it saves, the USB binding, and the test through the Control Objects.
#include <dlfcn.h>
#include <stdlib.h>

#include <QLabel>
#include <filesystem>
#include <QTest>

#include "platform/dispatch.h"
#include "setup/devsetup_test_runner.h"
#include "setup/gui/settings_dialog.h"
#include "tests/gui/window_fixture.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::setup::gui {
namespace {

using namespace testing;
using opos::setup::testing::kDrawerKey;
using opos::setup::testing::kPrinterKey;
using opos::setup::testing::TempDir;

class SettingsWindow : public SetupWindow {
 protected:
  // Opens the settings dialog of a device from the main window.
  SettingsDialog* OpenSettings(const std::string& cls, const std::string& key) {
    Select(cls, key);
    Click(window.get(), "cmdExecute2");
    for (SettingsDialog* d : window->SettingsDialogs()) {
      if (d->Device().mstrKeyName == key) return d;
    }
    ADD_FAILURE() << "no settings dialog for " << key;
    return nullptr;
  }
  QComboBox* Box(QDialog* d, int i) { return Find<QComboBox>(d, ("cboData" + std::to_string(i)).c_str()); }
  QLineEdit* Edit(QDialog* d, int i) { return Find<QLineEdit>(d, ("txtData" + std::to_string(i)).c_str()); }
  int32_t Dword(const std::string& path, const char* name) {
    return modRegedit::GetDwordValue(*store, path, name);
  }
  std::string Sz(const std::string& path, const char* name) {
    return modRegedit::GetStringValue(*store, path, name);
  }
};

TEST_F(SettingsWindow, SerialPrinterShowsItsChoicesAndSavesWhatIsChosen) {
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->isVisible());
  EXPECT_FALSE(d->isModal());
  EXPECT_EQ(d->windowTitle().toStdString(), "QMT500S Printer Settings ");
  EXPECT_EQ(Find<QLabel>(d, "lblName0")->text().toStdString(), "QMT500S");
  EXPECT_EQ(Items(Box(d, 0)).size(), 10u);
  EXPECT_EQ(Box(d, 0)->currentText().toStdString(), "COM1");
  EXPECT_EQ(Items(Box(d, 1)),
            (std::vector<std::string>{"2400 bps", "4800 bps", "9600 bps", "19200 bps", "38400 bps"}));
  EXPECT_EQ(Box(d, 1)->currentText().toStdString(), "9600 bps");
  EXPECT_EQ(Box(d, 5)->currentText().toStdString(), "DTR/DSR");
  EXPECT_EQ(Edit(d, 3)->text().toStdString(), "100");
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(Box(d, i)->isEnabled()) << i;
  for (int i : {6, 7}) {
    EXPECT_FALSE(Box(d, i)->isEnabled());
    EXPECT_EQ(Box(d, i)->currentText().toStdString(), "");
  }
  for (int i : {4, 5}) {
    EXPECT_FALSE(Edit(d, i)->isEnabled());
    EXPECT_EQ(Edit(d, i)->text().toStdString(), "");
  }

  ASSERT_TRUE(Choose(Box(d, 0), "COM3"));
  ASSERT_TRUE(Choose(Box(d, 1), "19200 bps"));
  ASSERT_TRUE(Choose(Box(d, 3), "EVEN"));
  Edit(d, 0)->setText(" 2048 ");
  Edit(d, 6)->setText("30");
  QPointer<SettingsDialog> guard(d);
  Click(d, "cmdExecute1");
  const std::string key = kPrinterKey + "\\QMT500S";
  EXPECT_EQ(Sz(key, "Port"), "COM3");
  EXPECT_EQ(Dword(key, "Baudrate"), 7);
  EXPECT_EQ(Dword(key, "Parity"), 1);
  EXPECT_EQ(Dword(key, "InputBuf"), 2048);
  EXPECT_EQ(Dword(key, "ImageSleep"), 30);
  EXPECT_EQ(Dword(key, "HandShake"), 2);
  EXPECT_TRUE(prompts.shown.empty());
  EXPECT_TRUE(guard.isNull() || !guard->isVisible());
  // The panel shows the device as saved.
  EXPECT_EQ(Text(window.get(), "lblData4"), "COM3");
}

TEST_F(SettingsWindow, TextThatIsNoNumberIsRefusedAndNothingIsSaved) {
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  const std::string before = store.Dump();
  ASSERT_TRUE(Choose(Box(d, 1), "4800 bps"));
  Edit(d, 1)->setText("12x");
  Edit(d, 2)->setText("-5");
  Edit(d, 3)->setText("soon");
  Click(d, "cmdExecute1");
  ASSERT_EQ(prompts.shown.size(), 1u);
  // Each box by the label the user sees.
  const std::string text = prompts.shown[0].text.toStdString();
  EXPECT_NE(text.find("OutputBuf must"), std::string::npos) << text;
  EXPECT_NE(text.find("Input Sleep Time must"), std::string::npos) << text;
  EXPECT_NE(text.find("Output Interval Time must"), std::string::npos) << text;
  EXPECT_EQ(text.find("Timeout"), std::string::npos) << text;
  EXPECT_EQ(store.Dump(), before);
  EXPECT_TRUE(d->isVisible());
}

TEST_F(SettingsWindow, ParallelPrinterHasNoSerialChoicesAndSavesThemAsZero) {
  Make("QMT500P");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500P");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Items(Box(d, 0)).size(), 8u);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_FALSE(Box(d, i)->isEnabled()) << i;
    EXPECT_EQ(Box(d, i)->count(), 0) << i;
  }
  ASSERT_TRUE(Choose(Box(d, 0), "LPT2"));
  Click(d, "cmdExecute1");
  const std::string key = kPrinterKey + "\\QMT500P";
  EXPECT_EQ(Sz(key, "Port"), "LPT2");
  for (const char* v : {"Baudrate", "BitLength", "Parity", "Stop", "HandShake"}) {
    EXPECT_EQ(Dword(key, v), 0) << v;
  }
}

TEST_F(SettingsWindow, SerialPortOffersAFoundAdapterByPath) {
  std::filesystem::create_directories(sys.Root() + "/class/tty/ttyUSB0");
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  const std::vector<std::string> items = Items(Box(d, 0));
  ASSERT_EQ(items.size(), 11u);
  EXPECT_EQ(items[9], "COM10");
  ASSERT_TRUE(Choose(Box(d, 0), "/dev/ttyUSB0"));
  Click(d, "cmdExecute1");
  EXPECT_EQ(Sz(kPrinterKey + "\\QMT500S", "Port"), "/dev/ttyUSB0");
}

TEST_F(SettingsWindow, SerialDrawerEditsPortAndDrawerSettings) {
  Make("QMT500S");
  Make("StandardCashS");
  Open();
  SettingsDialog* d = OpenSettings("CashDrawer", "StandardCashS");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle().toStdString(), "StandardCashS Printer Settings ");
  for (int i = 1; i <= 7; ++i) EXPECT_TRUE(Box(d, i)->isEnabled()) << i;
  EXPECT_TRUE(Edit(d, 4)->isEnabled());
  EXPECT_TRUE(Edit(d, 5)->isEnabled());
  EXPECT_EQ(Items(Box(d, 6)), (std::vector<std::string>{"0", "1"}));
  EXPECT_EQ(Items(Box(d, 7)), (std::vector<std::string>{"2", "5"}));
  ASSERT_TRUE(Choose(Box(d, 7), "5"));
  ASSERT_TRUE(Choose(Box(d, 6), "1"));
  Edit(d, 4)->setText("120");
  Edit(d, 5)->setText("240");
  Click(d, "cmdExecute1");
  const std::string key = kDrawerKey + "\\StandardCashS";
  EXPECT_EQ(Dword(key, "ConnectorPinNo"), 5);
  EXPECT_EQ(Dword(key, "OpenLevel"), 1);
  EXPECT_EQ(Dword(key, "PulseOnTime"), 120);
  EXPECT_EQ(Dword(key, "PulseOffTime"), 240);
}

TEST_F(SettingsWindow, UsbPortBindsThePrinterInThatPosition) {
  sys.AddDevice("1-1.2", "0483", "a036");
  sys.AddDevice("1-1.10", "0483", "a049");
  Make("QMT500S");
  Make("QMT500U");
  Make("StandardCashU");
  // A drawer file may name the port "USB" alone.
  modRegedit::SetStringValue(*store, kDrawerKey + "\\StandardCashU", "Port", "USB");
  Open();

  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500U");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Items(Box(d, 0)), (std::vector<std::string>{"USB001", "USB002"}));
  for (int i = 1; i <= 5; ++i) EXPECT_FALSE(Box(d, i)->isEnabled()) << i;
  ASSERT_TRUE(Choose(Box(d, 0), "USB002"));
  Click(d, "cmdExecute1");
  EXPECT_EQ(Sz(kPrinterKey + "\\QMT500U", "Port"), "USB002");
  EXPECT_EQ(Sz(kPrinterKey + "\\QMT500U", "SymbolicLink"), "usb:1-1.10");

  SettingsDialog* drawer = OpenSettings("CashDrawer", "StandardCashU");
  ASSERT_NE(drawer, nullptr);
  EXPECT_EQ(Box(drawer, 0)->currentText().toStdString(), "USB001");
  Click(drawer, "cmdExecute1");
  EXPECT_EQ(Sz(kDrawerKey + "\\StandardCashU", "Port"), "USB001");
  EXPECT_EQ(Sz(kDrawerKey + "\\StandardCashU", "SymbolicLink"), "usb:1-1.2");
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().front();
}

TEST_F(SettingsWindow, DialogSavesTheDeviceItWasOpenedForWhateverIsSelectedLater) {
  Make("QMT500S");
  Make("Z9S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(Choose(Box(d, 0), "COM4"));
  Select("POSPrinter", "Z9S");  // modeless: the user moves on in the tree
  EXPECT_EQ(window->Device().mstrKeyName, "Z9S");
  Click(d, "cmdExecute1");
  EXPECT_EQ(Sz(kPrinterKey + "\\QMT500S", "Port"), "COM4");
  EXPECT_EQ(Sz(kPrinterKey + "\\Z9S", "Port"), "COM1");

  // Opened again for the same device, the open dialog comes to the front.
  SettingsDialog* z9 = OpenSettings("POSPrinter", "Z9S");
  Click(window.get(), "cmdExecute2");
  EXPECT_EQ(window->SettingsDialogs().size(), 1u);
  EXPECT_EQ(window->SettingsDialogs().front(), z9);
}

TEST_F(SettingsWindow, SavedSettingsSurviveARenameOfTheLoadedDevice) {
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(Choose(Box(d, 1), "38400 bps"));
  Click(d, "cmdExecute1");
  prompts.steps = {[](QDialog* r) {
    Find<QLineEdit>(r, "txtName")->setText("Till1");
    Click(r, "cmdExecute0");
  }};
  prompts.answers = {QMessageBox::Ok, QMessageBox::Yes};
  Click(window.get(), "cmdExecute3");
  EXPECT_EQ(Dword(kPrinterKey + "\\Till1", "Baudrate"), 8);
}

TEST_F(SettingsWindow, DeviceRemovedWhileItsDialogIsOpenIsNotWrittenBack) {
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  prompts.answers = {QMessageBox::Yes};
  Click(window.get(), "cmdExecute1");
  ASSERT_FALSE(modRegedit::KeyExists(*store, kPrinterKey + "\\QMT500S"));
  Click(d, "cmdExecute1");
  EXPECT_FALSE(modRegedit::KeyExists(*store, kPrinterKey + "\\QMT500S"));
  ASSERT_EQ(prompts.shown.size(), 2u);
  EXPECT_NE(prompts.shown[1].text.toStdString().find("were not saved"), std::string::npos);
}

// The test button through the real Control Objects and the serial library.
class SettingsWindowTest : public SettingsWindow {
 protected:
  void SetUp() override {
    ::setenv("OPOS_REGISTRY", store.Path().c_str(), 1);
    const std::string lib = std::string(OPOS_BUILD_DIR) + "/service/libserialso.so";
    void* handle = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), com::S_OK);
    // COM2 leads nowhere.
    ::setenv("OPOS_PORT_DIR", ports.Path().c_str(), 1);
    std::filesystem::create_symlink("/nonexistent/tty", ports.File("com2"));
    tester = ControlTestRunner();
    ASSERT_TRUE(static_cast<bool>(tester));
  }
  void TearDown() override {
    ::unsetenv("OPOS_PORT_DIR");
    ::unsetenv("OPOS_REGISTRY");
  }
  TempDir ports;
};

TEST_F(SettingsWindowTest, PrinterOnAPortThatDoesNotExistReportsTheResultCode) {
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(Choose(Box(d, 0), "COM2"));
  Click(d, "cmdExecute0");
  ASSERT_EQ(prompts.shown.size(), 1u) << prompts.Texts().front();
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "ERR");
  // The claim cannot open the port within its time: OPOS_E_TIMEOUT.
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "ResultCode : 112");
  // The test saved first, and the dialog stays open.
  EXPECT_EQ(Sz(kPrinterKey + "\\QMT500S", "Port"), "COM2");
  EXPECT_TRUE(d->isVisible());
}

TEST_F(SettingsWindowTest, DeviceWhoseServiceIsMissingFailsAtOpenWithOneMessage) {
  Make("QMT500S");
  Make("StandardCashS");
  modRegedit::SetStringValue(*store, kDrawerKey + "\\StandardCashS", "", "No.Such.Service");
  Open();
  SettingsDialog* d = OpenSettings("CashDrawer", "StandardCashS");
  ASSERT_NE(d, nullptr);
  Click(d, "cmdExecute0");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "ERR");
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "ResultCode : 104");
}

TEST_F(SettingsWindowTest, TestPagePrintsOnAWorkingPrinterWithoutAMessage) {
  vprinter::VirtualPrinterOptions options;
  options.linkPath = ports.File("com1");
  vprinter::VirtualPrinter printer(options);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  Click(d, "cmdExecute0");
  EXPECT_TRUE(prompts.shown.empty()) << prompts.Texts().front();
  const bool printed = printer.WaitUntil(
      [](const vprinter::PrinterModel& m) {
        const auto& c = m.Capture();
        return std::string(c.begin(), c.end()).find("Device Name : QMT500") != std::string::npos;
      },
      std::chrono::milliseconds(5000));
  EXPECT_TRUE(printed);
}

TEST_F(SettingsWindowTest, PrinterWithItsCoverOpenReportsBothCodes) {
  vprinter::VirtualPrinterOptions options;
  options.linkPath = ports.File("com1");
  vprinter::VirtualPrinter printer(options);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  printer.SetCoverOpen(true);
  Make("QMT500S");
  Open();
  SettingsDialog* d = OpenSettings("POSPrinter", "QMT500S");
  ASSERT_NE(d, nullptr);
  Click(d, "cmdExecute0");
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].title.toStdString(), "ERR");
  EXPECT_EQ(prompts.shown[0].text.toStdString(), "ResultCode : 114\r\nResultCodeExtended : 201");
}

}  // namespace
}  // namespace opos::setup::gui
