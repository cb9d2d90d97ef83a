// The settings dialog's rules on devices created from the shipped models: what
// it offers per port kind, what it saves, the USB binding, and the test sequence.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup/device_settings.h"
#include "setup/device_test.h"
#include "setup/mod_regedit.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using testing::FakeSysfs;
using testing::kModelDir;
using testing::TempStore;

class Settings : public ::testing::Test {
 protected:
  // A device of type from the shipped files, loaded back.
  void Make(const std::string& file, const std::string& type) {
    ASSERT_TRUE(cls.Read(kModelDir + "/" + file, type)) << cls.LastError();
    ASSERT_TRUE(cls.Load(cls.mstrDeviceClass, cls.mstrKeyName));
  }
  // Sets one value as the user would and saves as "&Ok" does.
  void SetAndSave(const std::string& setting, const std::string& value) {
    SettingsForm form = OpenSettingsForm(cls);
    std::string error;
    ASSERT_TRUE(SetFormValue(&form, cls, setting, value, &error)) << error;
    notes.clear();
    ApplySettingsForm(form, &cls, &notes);
    ASSERT_TRUE(cls.Save(false)) << cls.LastError();
    ASSERT_TRUE(cls.Load(cls.mstrDeviceClass, cls.mstrKeyName));
  }
  FakeSysfs sys;
  TempStore store;
  OPOSCls cls{*store};
  std::vector<std::string> notes;
};

TEST_F(Settings, ParallelPrinterHasNoSerialChoicesAndSavesThemAsZero) {
  Make("KLP_QMT500.inf", "QMT500P");
  cls.mlngBaudrate = 6;  // as if stored earlier
  ASSERT_TRUE(cls.Save(false));
  SettingsForm form = OpenSettingsForm(cls);
  EXPECT_EQ(form.title, "QMT500P Printer Settings ");
  EXPECT_EQ(form.portChoices.size(), 8u);
  EXPECT_EQ(form.portChoices.back(), "LPT8");
  for (const ChoiceBox* box : {&form.baudrate, &form.bitLength, &form.parity, &form.stop, &form.handShake}) {
    EXPECT_FALSE(box->enabled);
    EXPECT_TRUE(box->text.empty());
    EXPECT_TRUE(box->offers.empty());
  }
  EXPECT_FALSE(form.drawerEnabled);
  std::string error;
  EXPECT_FALSE(SetFormValue(&form, cls, "Baudrate", "9600 bps", &error));
  EXPECT_NE(error.find("serial (COM) port"), std::string::npos);
  EXPECT_FALSE(SetFormValue(&form, cls, "PulseOnTime", "10", &error));
  EXPECT_FALSE(SetFormValue(&form, cls, "Port", "COM1", &error));
  SetAndSave("Port", "lpt2");
  EXPECT_EQ(cls.mstrPort, "LPT2");
  EXPECT_EQ(cls.mlngBaudrate, 0);
  EXPECT_EQ(cls.mlngHandShake, 0);
}

TEST_F(Settings, SerialDrawerOffersSerialAndDrawerChoices) {
  ASSERT_TRUE(cls.Read(kModelDir + "/KLP_Z9.inf", "Z9S"));
  Make("CashDrawer.inf", "StandardCashS");
  SettingsForm form = OpenSettingsForm(cls);
  EXPECT_TRUE(form.baudrate.enabled);
  EXPECT_TRUE(form.drawerEnabled);
  EXPECT_EQ(form.baudrate.text, "9600 bps");
  EXPECT_EQ(form.portChoices.size(), 10u);
  EXPECT_EQ(form.openLevel, "1");
  EXPECT_EQ(form.pinNo, "2");
  std::string error;
  EXPECT_FALSE(SetFormValue(&form, cls, "ConnectorPinNo", "3", &error));
  EXPECT_NE(error.find("\"2\", \"5\""), std::string::npos) << error;
  EXPECT_FALSE(SetFormValue(&form, cls, "Parity", "MARK", &error));
  EXPECT_FALSE(SetFormValue(&form, cls, "InputBuf", "12abc", &error));
  EXPECT_FALSE(SetFormValue(&form, cls, "InputBuf", "-1", &error));
  EXPECT_FALSE(SetFormValue(&form, cls, "InputBuf", "2147483648", &error));
  EXPECT_FALSE(SetFormValue(&form, cls, "Colour", "red", &error));
  EXPECT_NE(error.find("unknown setting"), std::string::npos);

  SetAndSave("ConnectorPinNo", "5");
  SetAndSave("parity", "even");
  SetAndSave("Baudrate", "115200 bps");
  SetAndSave("PulseOffTime", "250");
  SetAndSave("Port", "COM10");
  EXPECT_EQ(cls.mlngConnectorPinNo, 5);
  EXPECT_EQ(cls.mlngParity, 1);
  EXPECT_EQ(cls.mlngBaudrate, 10);
  EXPECT_EQ(cls.mlngPulseOffTime, 250);
  EXPECT_EQ(cls.mstrPort, "COM10");
  EXPECT_EQ(cls.mlngBitLength, 1) << "untouched choices keep their codes";
}

TEST_F(Settings, SerialPortOffersTheFoundSerialDevicesAfterTheComPorts) {
  // A probed UART, a legacy port with no UART behind it, a USB-serial adapter.
  const std::string tty = sys.Root() + "/class/tty";
  testing::WriteFile(tty + "/ttyS0/type", "4\n");
  testing::WriteFile(tty + "/ttyS1/type", "0\n");
  std::filesystem::create_directories(tty + "/ttyUSB0");
  Make("KLP_QMT500.inf", "QMT500S");
  std::vector<std::string> want;
  for (int i = 1; i <= 10; ++i) want.push_back("COM" + std::to_string(i));
  want.insert(want.end(), {"/dev/ttyS0", "/dev/ttyUSB0"});
  EXPECT_EQ(OpenSettingsForm(cls).portChoices, want);
  SetAndSave("Port", "/dev/ttyUSB0");
  EXPECT_EQ(cls.mstrPort, "/dev/ttyUSB0");
  // Opened on a path port, the form still offers the same list.
  EXPECT_EQ(OpenSettingsForm(cls).portChoices, want);
}

TEST_F(Settings, StoredCodeWithoutTextIsKeptNotZeroed) {
  Make("KLP_QMT500.inf", "QMT500S");
  cls.mlngBaudrate = 3;  // 1200 bit/s: valid for the port, no text in the dialog
  ASSERT_TRUE(cls.Save(false));
  EXPECT_TRUE(OpenSettingsForm(cls).baudrate.text.empty());
  SetAndSave("InputBuf", "2048");
  EXPECT_EQ(cls.mlngBaudrate, 3);
  EXPECT_EQ(cls.mlngInputBuf, 2048);
}

TEST_F(Settings, UsbDeviceBindsToThePrinterAtTheChosenPosition) {
  sys.AddDevice("1-2", "0483", "a049", 0);
  sys.AddDevice("1-1", "0483", "a036", 1);
  Make("KLP_Z10.inf", "Z10U");
  EXPECT_EQ(cls.mstrSymbolicLink, "");
  SettingsForm form = OpenSettingsForm(cls);
  EXPECT_EQ(form.portChoices, (std::vector<std::string>{"USB001", "USB002"}));
  EXPECT_FALSE(form.baudrate.enabled);
  SetAndSave("Port", "USB002");
  EXPECT_EQ(cls.mstrSymbolicLink, "usb:1-2");
  EXPECT_EQ(modRegedit::GetStringValue(*store, testing::kPrinterKey + "\\Z10U", "SymbolicLink"), "usb:1-2");

  // Unplugged: changing another setting keeps the socket it was bound to.
  sys.Remove("1-2");
  SetAndSave("Timeout", "50");
  EXPECT_EQ(cls.mstrSymbolicLink, "usb:1-2");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("kept"), std::string::npos);
  // Choosing a port binds to what is there now.
  SetAndSave("Port", "USB001");
  EXPECT_EQ(cls.mstrSymbolicLink, "usb:1-1");
}

TEST_F(Settings, UsbDrawerOnPortUsbMovesToUsb001) {
  sys.AddDevice("3-1", "067b", "2305", 0);
  ASSERT_TRUE(cls.Read(kModelDir + "/KLP_Z9.inf", "Z9U"));
  Make("CashDrawer.inf", "StandardCashU");
  EXPECT_EQ(cls.mstrPort, "USB");
  SetAndSave("OpenLevel", "0");
  EXPECT_EQ(cls.mstrPort, "USB001");
  EXPECT_EQ(cls.mstrSymbolicLink, "usb:3-1");
  EXPECT_EQ(cls.mlngOpenLevel, 0);
}

TEST_F(Settings, UsbDeviceWithoutPrintersOffersNoPort) {
  Make("KLP_PICOR.inf", "PICORU");
  SettingsForm form = OpenSettingsForm(cls);
  EXPECT_TRUE(form.portChoices.empty());
  std::string error;
  EXPECT_FALSE(SetFormValue(&form, cls, "Port", "USB001", &error));
  EXPECT_NE(error.find("no USB printer"), std::string::npos) << error;
}

// Records the Control Object calls and answers from a script.
class FakeControl : public TestTarget {
 public:
  int32_t openResult = 0, claimResult = 0, enableResult = 0, printResult = 0, drawerResult = 0;
  bool canCut = true;
  std::vector<std::string> calls;
  std::vector<std::string> printed;

  int32_t Open(const std::string& name) override {
    calls.push_back("Open " + name);
    return openResult;
  }
  int32_t ClaimDevice(int32_t timeout) override {
    calls.push_back("ClaimDevice " + std::to_string(timeout));
    return claimResult;
  }
  void SetDeviceEnabled(bool on) override {
    calls.push_back(on ? "Enable" : "Disable");
    last_ = on ? enableResult : 0;
  }
  int32_t ResultCode() override { return last_; }
  int32_t ResultCodeExtended() override { return last_ == 114 ? 203 : 0; }
  int32_t PrintNormal(int32_t station, const std::string& data) override {
    calls.push_back("PrintNormal " + std::to_string(station));
    printed.push_back(data);
    return last_ = printResult;
  }
  bool CapRecPapercut() override { return canCut; }
  int32_t OpenDrawer() override {
    calls.push_back("OpenDrawer");
    return last_ = drawerResult;
  }
  int32_t ReleaseDevice() override {
    calls.push_back("ReleaseDevice");
    return 0;
  }
  int32_t Close() override {
    calls.push_back("Close");
    return 0;
  }

 private:
  int32_t last_ = 0;
};

TEST(DeviceTest, PrinterPrintsTheTestPageAndCuts) {
  FakeControl p;
  EXPECT_TRUE(RunPrinterTest(p, "Front", "QMT500S").empty());
  EXPECT_EQ(p.calls, (std::vector<std::string>{"Open Front", "ClaimDevice 1000", "Enable", "PrintNormal 2",
                                               "PrintNormal 2", "Disable", "ReleaseDevice", "Close"}));
  ASSERT_EQ(p.printed.size(), 2u);
  EXPECT_EQ(p.printed[0],
            "Interactive Hcheck!!\r\nKELVORA OPOS ZAD\r\nService Object Version : 1.4\r\n"
            "Device Name : QMT500\r\n\r\n\r\n");
  EXPECT_EQ(p.printed[1], "\x1b|fP");

  FakeControl noCut;
  noCut.canCut = false;
  RunPrinterTest(noCut, "X", "Custom");
  ASSERT_EQ(noCut.printed.size(), 1u);
  EXPECT_EQ(noCut.printed[0], "Interactive Hcheck!!\r\nKELVORA OPOS ZAD\r\nService Object Version : 1.4\r\n");
}

TEST(DeviceTest, FailuresAreReportedAndTheDeviceLeftClosed) {
  FakeControl open;
  open.openResult = 104;
  auto m = RunPrinterTest(open, "Gone", "Z9S");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].title, "ERR");
  EXPECT_EQ(m[0].text, "ResultCode : 104");
  EXPECT_EQ(open.calls, (std::vector<std::string>{"Open Gone"}));

  FakeControl claim;
  claim.claimResult = 112;
  m = RunDrawerTest(claim, "D");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "ResultCode : 112");
  EXPECT_EQ(claim.calls.back(), "Close");
  EXPECT_EQ(claim.calls.size(), 3u);

  FakeControl enable;
  enable.enableResult = 111;
  m = RunPrinterTest(enable, "P", "Z9S");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "ResultCode : 111\r\nResultCodeExtended : 0");
  EXPECT_EQ(enable.calls,
            (std::vector<std::string>{"Open P", "ClaimDevice 1000", "Enable", "ReleaseDevice", "Close"}));

  FakeControl paper;
  paper.printResult = 114;
  m = RunPrinterTest(paper, "P", "Z9S");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "ResultCode : 114\r\nResultCodeExtended : 203");
  EXPECT_EQ(paper.printed.size(), 1u) << "no cut after a failed print";
  EXPECT_EQ(paper.calls.back(), "Close");

  FakeControl drawer;
  drawer.drawerResult = 111;
  m = RunDrawerTest(drawer, "D");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(drawer.calls, (std::vector<std::string>{"Open D", "ClaimDevice 1000", "Enable", "OpenDrawer",
                                                    "Disable", "ReleaseDevice", "Close"}));
}

}  // namespace
}  // namespace opos::setup
