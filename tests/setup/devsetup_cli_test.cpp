// The devsetup program run against a temporary store: the everyday commands,
// their messages and exit codes, and bad input that must change nothing.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup/mod_regedit.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using testing::FakeSysfs;
using testing::kModelDir;
using testing::RunDevsetup;
using testing::RunResult;
using testing::TempDir;
using testing::TempStore;
using testing::WriteFile;

class Cli : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, int asUser = -1) {
    args.insert(args.begin(), {"--registry", store.Path()});
    return RunDevsetup(args, asUser);
  }
  bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  FakeSysfs sys;
  TempStore store;
};

TEST_F(Cli, UsageWithoutArgumentsAndForBadCommands) {
  RunResult r = RunDevsetup({});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Contains(r.err, "Usage: devsetup")) << r.err;
  EXPECT_EQ(Run({"frobnicate"}).status, 2);
  EXPECT_EQ(Run({"remove", "POSPrinter"}).status, 2);
  EXPECT_EQ(Run({"ldn", "move", "a", "b"}).status, 2);
  EXPECT_EQ(RunDevsetup({"--registry"}).status, 2);
  EXPECT_EQ(RunDevsetup({"--help"}).status, 0);
}

TEST_F(Cli, OptionFormsAndReadingCommandsOnAMissingStore) {
  ASSERT_EQ(Run({"add", "QMT500S"}).status, 0);
  EXPECT_EQ(RunDevsetup({"--registry=" + store.Path(), "list"}).status, 0);
  EXPECT_EQ(RunDevsetup({"-r", store.Path(), "show", "POSPrinter", "QMT500S"}).status, 0);
  RunResult r = RunDevsetup({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(Contains(r.out, "devsetup (opos) ")) << r.out;
  EXPECT_TRUE(Contains(RunDevsetup({"-h"}).out, "Exit status:"));
  EXPECT_EQ(RunDevsetup({"--registry=", "list"}).status, 2);
  EXPECT_EQ(RunDevsetup({"--list"}).status, 2);

  TempDir dir;
  const std::string missing = dir.File("typo.db");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list"}, {"show", "POSPrinter", "QMT500S"}, {"models"}, {"usb"}}) {
    std::vector<std::string> all{"--registry", missing};
    all.insert(all.end(), args.begin(), args.end());
    r = RunDevsetup(all);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_TRUE(Contains(r.err, missing + " does not exist")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(missing)) << args[0];
  }
}

TEST_F(Cli, ModelsAreFoundBesideTheProgram) {
  RunResult r = RunDevsetup({"models"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "POSPrinter\n  PICOR: PICORS PICORP PICORU\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  Z7: Z7S Z7U\n"));
  EXPECT_TRUE(Contains(r.out, "CashDrawer\n  StandardCash: StandardCashS StandardCashP StandardCashU"));
}

TEST_F(Cli, AddListRenameAndRemoveADevice) {
  EXPECT_EQ(Run({"add", "QMT500S"}).out, "QMT500S\n");
  EXPECT_EQ(Run({"add", "QMT500S"}).out, "QMT500S_2\n");
  RunResult drawer = Run({"add", "StandardCashS"});
  EXPECT_EQ(drawer.out, "StandardCashS\n") << drawer.err;
  ASSERT_EQ(Run({"ldn", "add", "POSPrinter", "QMT500S", "Front"}).status, 0);
  ASSERT_EQ(Run({"ldn", "add", "POSPrinter", "QMT500S_2", "Back"}).status, 0);

  RunResult list = Run({"list"});
  EXPECT_EQ(list.out,
            "POSPrinter\n"
            "  QMT500S: QMT500S on COM1, KELVORA device\n"
            "    LDN Front\n"
            "  QMT500S_2: QMT500S on COM1, KELVORA device\n"
            "    LDN Back\n"
            "CashDrawer\n"
            "  StandardCashS: StandardCashS on COM1, KELVORA device\n");

  RunResult taken = Run({"rename", "POSPrinter", "QMT500S", "QMT500S_2"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_TRUE(Contains(taken.err, "already exists")) << taken.err;
  EXPECT_EQ(Run({"rename", "POSPrinter", "QMT500S", "Counter"}).out, "Counter\n");
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Counter"}).out, "LDN             Front\n"));

  EXPECT_EQ(Run({"remove", "POSPrinter", "Counter"}).status, 0);
  list = Run({"list"});
  EXPECT_FALSE(Contains(list.out, "Counter"));
  EXPECT_FALSE(Contains(list.out, "Front"));
  EXPECT_TRUE(Contains(list.out, "LDN Back"));
  RunResult gone = Run({"remove", "POSPrinter", "Counter"});
  EXPECT_EQ(gone.status, 1);
  EXPECT_TRUE(Contains(gone.err, "no device \"Counter\" under POSPrinter")) << gone.err;
}

TEST_F(Cli, DrawerNeedsAPrinterAndUsbTypesNeedAUsbPrinter) {
  RunResult r = Run({"add", "StandardCashS"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "Not Installed Printer can connect with the CashDrawer!!")) << r.err;
  r = Run({"add", "Z9U"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "Not Connect USB Device and Power off!")) << r.err;
  r = Run({"add", "Z7P"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "offers the device type \"Z7P\"")) << r.err;
  EXPECT_FALSE(modRegedit::KeyExists(*store, testing::kPrinterKey + "\\Z9U"));

  sys.AddDevice("1-3", "0483", "a049", 0);
  r = Run({"add", "Z9U"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Z9U\n");
  EXPECT_TRUE(Contains(Run({"usb"}).out, "USB001  usb:1-3  0483:A049  /dev/usb/lp0\n"));
  ASSERT_EQ(Run({"set", "POSPrinter", "Z9U", "Port", "USB001"}).status, 0);
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Z9U"}).out, "SymbolicLink    usb:1-3\n"));
}

TEST_F(Cli, UnboundAddOfAUsbTypeWithNoPrinterIsBoundLater) {
  RunResult r = Run({"add", "--unbound", "Z9U"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Z9U\n");
  EXPECT_TRUE(Contains(r.err, "once its printer is plugged in")) << r.err;
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Z9U"}).out, "SymbolicLink    (not bound)\n"));
  sys.AddDevice("1-3", "0483", "a049", 0);
  ASSERT_EQ(Run({"set", "POSPrinter", "Z9U", "Port", "USB001"}).status, 0);
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Z9U"}).out, "SymbolicLink    usb:1-3\n"));
  // With a printer present the flag still leaves the new device unbound.
  ASSERT_EQ(Run({"add", "--unbound", "Z9U"}).out, "Z9U_2\n");
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Z9U_2"}).out, "SymbolicLink    (not bound)\n"));

  // Misuse changes nothing.
  const std::string before = store.Dump();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  for (const Case& c : std::vector<Case>{
           {{"add", "--unbound", "Z7S"}, 1, "USB device types only"},
           {{"add", "--unbound"}, 2, "add takes 1 argument"},
           {{"add", "Z9U", "--unbound"}, 2, "add takes 1 argument"},
           {{"add", "--unbound", "--unbound", "Z9U"}, 2, "add takes 1 argument"},
       }) {
    r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back();
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  }
  EXPECT_EQ(store.Dump(), before);
  EXPECT_TRUE(Contains(Run({"--help"}).out, "add [--unbound] TYPE"));
}

TEST_F(Cli, SetFollowsTheDialogAndRefusesWhatItWouldNotOffer) {
  ASSERT_EQ(Run({"add", "Z7S"}).status, 0);
  EXPECT_EQ(Run({"set", "POSPrinter", "Z7S", "Baudrate", "19200 bps"}).status, 0);
  RunResult r = Run({"set", "POSPrinter", "Z7S", "Baudrate", "38400 bps"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "choose one of \"2400 bps\", \"4800 bps\", \"9600 bps\", \"19200 bps\""))
      << r.err;
  r = Run({"set", "POSPrinter", "Z7S", "InputBuf", "lots"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "whole number")) << r.err;
  EXPECT_EQ(Run({"set", "POSPrinter", "Z7S", "OpenLevel", "0"}).status, 1);
  r = Run({"show", "POSPrinter", "Z7S"});
  EXPECT_TRUE(Contains(r.out, "Baudrate        7 (19200 bps); offered:")) << r.out;
}

TEST_F(Cli, PortsListsUartsAdaptersAndUsbPrintersAndASerialPathIsAPort) {
  // A probed UART, a legacy port with no UART behind it, a USB-serial adapter
  // with its by-id link, and the maker's USB printer.
  const std::string tty = sys.Root() + "/class/tty";
  WriteFile(tty + "/ttyS0/type", "4\n");
  WriteFile(tty + "/ttyS1/type", "0\n");
  const std::string adapter = sys.Devices() + "/1-2";
  WriteFile(adapter + "/idVendor", "0403\n");
  WriteFile(adapter + "/idProduct", "6001\n");
  WriteFile(adapter + "/manufacturer", "FTDI\n");
  WriteFile(adapter + "/product", "FT232R USB UART\n");
  std::filesystem::create_directories(adapter + "/1-2:1.0/ttyUSB0");
  std::filesystem::create_directories(tty + "/ttyUSB0");
  std::filesystem::create_directory_symlink(adapter + "/1-2:1.0/ttyUSB0", tty + "/ttyUSB0/device");
  sys.AddDevice("1-1.4", "0483", "a049", 0);
  TempDir byId;
  std::filesystem::create_symlink("../../ttyUSB0", byId.Path() + "/usb-FTDI_FT232R_USB_UART_A1-if00-port0");
  ::setenv("OPOS_SERIAL_BY_ID_DIR", byId.Path().c_str(), 1);
  RunResult r = Run({"ports"});
  ::unsetenv("OPOS_SERIAL_BY_ID_DIR");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "serial  /dev/ttyS0  UART\n"
            "serial  /dev/ttyUSB0  0403:6001  FTDI FT232R USB UART\n"
            "        " +
                byId.Path() +
                "/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n"
                "usb     usb:1-1.4  0483:A049  /dev/usb/lp0\n");

  ASSERT_EQ(Run({"add", "Z7S"}).status, 0);
  ASSERT_EQ(Run({"set", "POSPrinter", "Z7S", "Port", "/dev/ttyUSB0"}).status, 0);
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "Z7S"}).out, "/dev/ttyUSB0"));
  r = Run({"set", "POSPrinter", "Z7S", "Port", "/dev/tty\x01"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "control characters")) << r.err;
}

TEST_F(Cli, LogicalNameCommands) {
  ASSERT_EQ(Run({"add", "PICORS"}).status, 0);
  ASSERT_EQ(Run({"add", "PICORS"}).status, 0);
  for (const char* key : {"PICORS", "picors"}) {
    RunResult same = Run({"ldn", "add", "POSPrinter", key, "PICORS"});
    EXPECT_EQ(same.status, 1);
    EXPECT_TRUE(Contains(same.err,
                         "Cannot register Logical Device Name because Device Name and "
                         "Logical Device Name are the same."));
  }
  EXPECT_EQ(Run({"ldn", "add", "POSPrinter", "PICORS", "picors"}).status, 1);
  EXPECT_TRUE(Contains(Run({"show", "POSPrinter", "picors_2"}).out, "Key             PICORS_2\n"));
  RunResult hides = Run({"ldn", "add", "POSPrinter", "picors", "Picors_2"});
  EXPECT_EQ(hides.status, 0);
  EXPECT_TRUE(Contains(hides.err,
                       "warning: the logical device name \"Picors_2\" is also the key name of the "
                       "device \"PICORS_2\""))
      << hides.err;
  ASSERT_EQ(Run({"ldn", "remove", "POSPrinter", "Picors_2"}).status, 0);
  ASSERT_EQ(Run({"ldn", "add", "POSPrinter", "PICORS_2", "Till"}).status, 0);
  RunResult moved = Run({"ldn", "add", "POSPrinter", "PICORS", "till"});
  EXPECT_EQ(moved.status, 0);
  EXPECT_TRUE(Contains(moved.err, "pointed at \"PICORS_2\"")) << moved.err;

  EXPECT_EQ(Run({"ldn", "rename", "POSPrinter", "PICORS_2", "till", "X"}).status, 1);
  EXPECT_EQ(Run({"ldn", "rename", "POSPrinter", "PICORS", "TILL", "Till2"}).status, 0);
  EXPECT_EQ(modRegedit::GetStringValue(*store, testing::kPrinterKey, "Till2"), "PICORS");
  EXPECT_EQ(Run({"ldn", "remove", "POSPrinter", "nope"}).status, 1);
  EXPECT_EQ(Run({"ldn", "remove", "POSPrinter", "till2"}).status, 0);
  EXPECT_EQ(modRegedit::EnumValues(*store, testing::kPrinterKey).count, 0);
}

TEST_F(Cli, ForeignDevicesCanOnlyBeRemoved) {
  const std::string key = testing::kPrinterKey + "\\Other";
  ASSERT_EQ(modRegedit::SetStringValue(*store, key, "", "Other.SO"), reg::kOk);
  ASSERT_EQ(modRegedit::SetStringValue(*store, key, "ZADConfig", "ACME"), reg::kOk);
  EXPECT_TRUE(Contains(Run({"list"}).out,
                       "  Other: (no type) on (no port), not a KELVORA device, "
                       "unknown type\n"));
  for (auto args : std::vector<std::vector<std::string>>{{"rename", "POSPrinter", "Other", "Mine"},
                                                         {"set", "POSPrinter", "Other", "Port", "COM2"},
                                                         {"ldn", "add", "POSPrinter", "Other", "L"}}) {
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_TRUE(Contains(r.err, "is not a KELVORA device")) << r.err;
  }
  EXPECT_EQ(Run({"remove", "POSPrinter", "Other"}).status, 0);
}

TEST_F(Cli, BadInputIsRefusedWithAMessageAndChangesNothing) {
  ASSERT_EQ(Run({"add", "Z10S"}).status, 0);
  const std::string before = store.Dump();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"rename", "POSPrinter", "Z10S", "a\\b"}, "backslash"},
      {{"rename", "POSPrinter", "Z10S", "a\x01"}, "control character"},
      {{"rename", "POSPrinter", "Z10S", std::string(300, 'n')}, "longer than 255"},
      {{"ldn", "add", "POSPrinter", "Z10S", "a\nb"}, "control character"},
      {{"show", "Scanner", "Z10S"}, "unknown device class"},
      {{"show", "POSPrinter", "x\\y"}, "backslash"},
      {{"set", "POSPrinter", "Z10S", "Port", "COM11"}, "not offered"},
      {{"test", "POSPrinter", "Missing"}, "no device"},
  };
  for (const Case& c : cases) {
    RunResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_TRUE(Contains(r.err, c.message)) << r.err;
  }
  EXPECT_EQ(store.Dump(), before);

  TempDir models;
  WriteFile(models.File("KLP_BAD.inf"), "[MaxNumber]\nCountNumber=1\n[SINFO]\nDeviceName=BADS\n");
  RunResult r = RunDevsetup({"--registry", store.Path(), "--models", models.Path(), "add", "BADS"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "lacks the key")) << r.err;
  r = RunDevsetup({"--models", models.File("none"), "models"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "cannot read the model directory")) << r.err;
  EXPECT_EQ(store.Dump(), before);
}

TEST_F(Cli, UnwritableStoreIsReportedAndLeftWhole) {
  ASSERT_EQ(Run({"add", "Z9S"}).status, 0);
  const std::string before = store.Dump();
  // As root the program runs as nobody; otherwise the folder is made read-only.
  const bool root = ::geteuid() == 0;
  if (!root) ::chmod(store.Dir().Path().c_str(), 0555);
  if (!root) ::chmod(store.Path().c_str(), 0444);
  const int user = root ? 65534 : -1;
  RunResult r = Run({"add", "Z9S"}, user);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "cannot be written")) << r.err;
  r = Run({"rename", "POSPrinter", "Z9S", "Front"}, user);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, "cannot rename \"Z9S\"")) << r.err;
  RunResult list = Run({"list"}, user);
  EXPECT_TRUE(Contains(list.out, "  Z9S: Z9S on COM1")) << list.out << list.err;
  if (!root) ::chmod(store.Dir().Path().c_str(), 0755);
  if (!root) ::chmod(store.Path().c_str(), 0644);
  EXPECT_EQ(store.Dump(), before);
}

TEST_F(Cli, TestOfADeviceWhoseServiceObjectIsNotRegistered) {
  ASSERT_EQ(Run({"add", "Z9S"}).status, 0);
  RunResult r = Run({"test", "POSPrinter", "Z9S"});
  EXPECT_EQ(r.status, 1);
  // The dialog's one message for a failing Open, then why.
  EXPECT_EQ(r.err.rfind("ERR: ResultCode : 104\ndevsetup: ", 0), 0u) << r.err;
  EXPECT_TRUE(Contains(r.err, "KELVORA.RecPrinter.SO")) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace opos::setup
