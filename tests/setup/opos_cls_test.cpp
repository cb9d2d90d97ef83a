// OPOSCls against a real store with the shipped model files: creating devices,
// the value set and its order, logical names, rename and removal, and refusals
// that leave the store as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "setup/mod_regedit.h"
#include "setup/mod_setup.h"
#include "setup/opos_cls.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using testing::kDrawerKey;
using testing::kModelDir;
using testing::kPrinterKey;
using testing::TempStore;
using testing::WriteFile;

const std::string kQmt500 = kModelDir + "/KLP_QMT500.inf";
const std::string kDrawer = kModelDir + "/CashDrawer.inf";

std::vector<std::string> ValueNames(reg::Store& store, const std::string& key) {
  return modRegedit::EnumValues(store, key).names;
}

// (name, device) pairs of a class key.
std::vector<std::pair<std::string, std::string>> Ldns(reg::Store& store, const std::string& key) {
  modRegedit::ValueList l = modRegedit::EnumValues(store, key);
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i < l.names.size(); ++i) out.emplace_back(l.names[i], l.data[i]);
  return out;
}

const std::vector<std::string> kCommonOrder = {
    "",           "ZADConfig",  "Baudrate",  "BaudrateSel",  "BitLength", "BitLengthSel", "Description",
    "DeviceDesc", "DeviceName", "HandShake", "HandShakeSel", "IdleSleep", "InputBuf",     "ImageSleep",
    "InputSleep", "OutputBuf",  "Parity",    "ParitySel",    "Port"};
const std::vector<std::string> kTailOrder = {"PortShare", "Stop",    "StopSel",   "Timeout",
                                             "Version",   "XonXoff", "XonXoffSel"};

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(OPOSClsRead, NewDevicesTakeTheFirstFreeSuffix) {
  TempStore store;
  OPOSCls cls(*store);
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(cls.Read(kQmt500, "QMT500S")) << cls.LastError();
    names.push_back(cls.mstrKeyName);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"QMT500S", "QMT500S_2", "QMT500S_3"}));
  // A gap is filled first; names compare without regard to case.
  OPOSCls other(*store);
  ASSERT_TRUE(other.Load("POSPrinter", "qmt500s_2"));
  ASSERT_TRUE(other.Remove());
  ASSERT_TRUE(cls.Read(kQmt500, "QMT500S"));
  EXPECT_EQ(cls.mstrKeyName, "QMT500S_2");
}

TEST(OPOSClsRead, SerialPrinterGetsEveryValueInOrderAndNoUsbValues) {
  TempStore store;
  OPOSCls cls(*store);
  ASSERT_TRUE(cls.Read(kQmt500, "QMT500S")) << cls.LastError();
  const std::string key = kPrinterKey + "\\QMT500S";
  EXPECT_EQ(ValueNames(*store, key), Concat({kCommonOrder, kTailOrder}));
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, ""), "KELVORA.RecPrinter.SO");
  EXPECT_EQ(modRegedit::GetDwordValue(*store, key, "Baudrate"), 6);
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Port"), "COM1");
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Version"), "1.0");
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Description").substr(0, 41),
            "KELVORA POS Printer OPOS Service Object, ");

  OPOSCls loaded(*store);
  ASSERT_TRUE(loaded.Load("POSPrinter", "QMT500S"));
  EXPECT_EQ(loaded.mstrVid, "");
  EXPECT_EQ(loaded.mstrSymbolicLink, "");
  EXPECT_EQ(loaded.mstrDeviceName, "QMT500S");
  EXPECT_EQ(loaded.mstrBaudrateSel, "4,5,6,7,8");
  EXPECT_EQ(loaded.mlngHandShake, 2);
  EXPECT_EQ(loaded.mlngOpenLevel, 0) << "drawer values are not read for a printer";
}

TEST(OPOSClsRead, UsbDrawerCarriesUsbAndDrawerValues) {
  TempStore store;
  OPOSCls cls(*store);
  ASSERT_TRUE(cls.Read(kDrawer, "StandardCashU")) << cls.LastError();
  EXPECT_EQ(cls.mstrDeviceClass, "CashDrawer");
  const std::string key = kDrawerKey + "\\StandardCashU";
  std::vector<std::string> usb = {"Vid", "Pid", "SymbolicLink"};
  std::vector<std::string> drawer = {"OpenLevel", "ConnectorPinNo", "PulseOnTime", "PulseOffTime"};
  EXPECT_EQ(ValueNames(*store, key), Concat({kCommonOrder, usb, kTailOrder, drawer}));
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Port"), "USB");
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, ""), "KELVORA.CashDrawer.SOU");
  EXPECT_EQ(modRegedit::GetDwordValue(*store, key, "ConnectorPinNo"), 2);
  EXPECT_EQ(modRegedit::GetDwordValue(*store, key, "OpenLevel"), 1);
}

TEST(OPOSClsRead, ParallelDeviceHasWhatTheParallelServiceNeeds) {
  TempStore store;
  OPOSCls cls(*store);
  ASSERT_TRUE(cls.Read(kDrawer, "StandardCashP")) << cls.LastError();
  const std::string key = kDrawerKey + "\\StandardCashP";
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Port"), "LPT1");
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "DeviceName").substr(0, 8), "Standard");
  reg::Value v;
  EXPECT_EQ(store->QueryValue(reg::Root::LocalMachine, key, "SymbolicLink", &v), reg::kFileNotFound);
}

TEST(OPOSClsRead, BadModelFilesAreRefusedAndWriteNothing) {
  TempStore store;
  const std::string before = store.Dump();
  OPOSCls cls(*store);
  auto refuse = [&](const std::string& file, const std::string& type, const std::string& expect) {
    EXPECT_FALSE(cls.Read(file, type)) << type;
    EXPECT_NE(cls.LastError().find(expect), std::string::npos) << cls.LastError();
  };
  const std::string dir = store.Dir().Path();
  refuse(dir + "/missing.inf", "QMT500S", "cannot open");
  refuse(kQmt500, "QMT500X", "does not end in S, P or U");
  refuse(kQmt500, "", "does not end in S, P or U");
  refuse(kModelDir + "/KLP_Z7.inf", "Z7P", "no [PINFO] section");
  refuse(kQmt500, "Z9S", "describes \"QMT500S\", not \"Z9S\"");

  // Take a shipped file and break it one way at a time.
  std::string good;
  {
    std::ifstream in(kQmt500);
    good.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto variant = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    WriteFile(dir + "/KLP_T.inf", text);
    return dir + "/KLP_T.inf";
  };
  refuse(variant("InputSleep=24\n", ""), "QMT500S", "lacks the key \"InputSleep\"");
  refuse(variant("Port=COM1\n", "Port COM1\n"), "QMT500S",
         "lacks the key \"Port\"");  // the junk line is skipped
  refuse(variant("InputBuf=1024", "InputBuf=99999999999"), "QMT500S", "out of range");
  refuse(variant("DeviceClass=POSPrinter", "DeviceClass=Scanner"), "QMT500S", "Scanner");
  refuse(variant("DeviceName=QMT500S", "DeviceName=QMT\\500S"), "QMT\\500S", "backslash");
  refuse(variant("SOName=KELVORA.RecPrinter.SO\n", "SOName=\n"), "QMT500S", "SOName is empty");
  EXPECT_EQ(store.Dump(), before);

  // A value too long for the reader's buffer is cut there, as the profile reader does.
  ASSERT_TRUE(cls.Read(variant("DeviceDesc=\"KELVORA QMT500 Receipt Printer (Serial)\"",
                               "DeviceDesc=" + std::string(300, 'd')),
                       "QMT500S"))
      << cls.LastError();
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey + "\\QMT500S", "DeviceDesc"),
            std::string(255, 'd'));
}

class Devices : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(cls.Read(kQmt500, "QMT500S"));
    ASSERT_TRUE(cls.Read(kQmt500, "QMT500S"));  // QMT500S_2
    ASSERT_TRUE(cls.Load("POSPrinter", "QMT500S"));
    ASSERT_TRUE(cls.AddLDN("Front"));
    ASSERT_TRUE(cls.AddLDN("Back"));
    ASSERT_TRUE(cls.Load("POSPrinter", "QMT500S_2"));
    ASSERT_TRUE(cls.AddLDN("Other"));
    ASSERT_TRUE(cls.Load("POSPrinter", "QMT500S"));
  }
  TempStore store;
  OPOSCls cls{*store};
};

TEST_F(Devices, RemoveDeletesExactlyItsLogicalNames) {
  ASSERT_TRUE(modRegedit::SetStringValue(*store, kPrinterKey, "Lower", "qmt500s") == reg::kOk);
  ASSERT_TRUE(cls.Remove()) << cls.LastError();
  EXPECT_EQ(cls.mstrKeyName, "");
  EXPECT_FALSE(modRegedit::KeyExists(*store, kPrinterKey + "\\QMT500S"));
  EXPECT_TRUE(modRegedit::KeyExists(*store, kPrinterKey + "\\QMT500S_2"));
  EXPECT_EQ(Ldns(*store, kPrinterKey),
            (std::vector<std::pair<std::string, std::string>>{{"Other", "QMT500S_2"}}));
}

TEST_F(Devices, RenameMovesLogicalNamesAndWritesTheWholeValueSet) {
  ASSERT_TRUE(cls.RenameKey("Counter")) << cls.LastError();
  EXPECT_EQ(cls.mstrKeyName, "Counter");
  EXPECT_FALSE(modRegedit::KeyExists(*store, kPrinterKey + "\\QMT500S"));
  EXPECT_EQ(ValueNames(*store, kPrinterKey + "\\Counter"), Concat({kCommonOrder, kTailOrder}));
  OPOSCls loaded(*store);
  ASSERT_TRUE(loaded.Load("POSPrinter", "Counter"));
  EXPECT_EQ(loaded.mstrSOName, "KELVORA.RecPrinter.SO");
  EXPECT_EQ(loaded.mlngInputBuf, 1024);
  auto ldns = Ldns(*store, kPrinterKey);
  std::sort(ldns.begin(), ldns.end());
  EXPECT_EQ(ldns, (std::vector<std::pair<std::string, std::string>>{
                      {"Back", "Counter"}, {"Front", "Counter"}, {"Other", "QMT500S_2"}}));
}

TEST_F(Devices, RenameOnlyInCaseKeepsTheDevice) {
  ASSERT_TRUE(cls.RenameKey("qmt500s")) << cls.LastError();
  std::vector<std::string> keys = *modRegedit::EnumSubKeys(*store, kPrinterKey);
  EXPECT_EQ(keys, (std::vector<std::string>{"qmt500s", "QMT500S_2"}));
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey, "Front"), "qmt500s");
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey + "\\qmt500s", "Port"), "COM1");
}

TEST_F(Devices, RenameRefusalsChangeNothing) {
  const std::string before = store.Dump();
  EXPECT_FALSE(cls.RenameKey("QMT500S_2"));
  EXPECT_NE(cls.LastError().find("already exists"), std::string::npos) << cls.LastError();
  EXPECT_FALSE(cls.RenameKey("qmt500s_2"));
  EXPECT_FALSE(cls.RenameKey("QMT500S"));
  EXPECT_FALSE(cls.RenameKey("A\\B"));
  EXPECT_NE(cls.LastError().find("backslash"), std::string::npos);
  EXPECT_FALSE(cls.RenameKey("Tab\there"));
  EXPECT_NE(cls.LastError().find("control character"), std::string::npos);
  EXPECT_FALSE(cls.RenameKey(""));
  EXPECT_FALSE(cls.RenameKey(std::string(256, 'k')));
  // A key with a subkey cannot be deleted, so the whole rename is refused.
  ASSERT_EQ(store->CreateKey(reg::Root::LocalMachine, kPrinterKey + "\\QMT500S\\Sub"), reg::kOk);
  const std::string withSub = store.Dump();
  EXPECT_FALSE(cls.RenameKey("Counter"));
  EXPECT_NE(cls.LastError().find("subkeys"), std::string::npos) << cls.LastError();
  EXPECT_EQ(store.Dump(), withSub);
  EXPECT_EQ(cls.mstrKeyName, "QMT500S");
  ASSERT_EQ(store->DeleteKey(reg::Root::LocalMachine, kPrinterKey + "\\QMT500S\\Sub"), reg::kOk);
  EXPECT_EQ(store.Dump(), before);
}

TEST_F(Devices, LogicalNameRules) {
  const std::string before = store.Dump();
  // The device's own key in any spelling, also when it was loaded by another one.
  ASSERT_TRUE(cls.Load("POSPrinter", "qmt500s"));
  EXPECT_EQ(cls.mstrKeyName, "QMT500S");
  for (const char* same : {"QMT500S", "qmt500s", "Qmt500S"}) {
    EXPECT_FALSE(cls.AddLDN(same));
    EXPECT_EQ(cls.LastError(), OPOSCls::kSameNameMessage);
    EXPECT_FALSE(cls.RenameLDN("Front", same));
    EXPECT_EQ(cls.LastError(), OPOSCls::kSameNameMessage);
  }
  EXPECT_FALSE(cls.AddLDN(""));
  EXPECT_FALSE(cls.AddLDN("bad\nname"));
  EXPECT_FALSE(cls.AddLDN(std::string(256, 'n')));
  EXPECT_EQ(store.Dump(), before);

  // Re-adding a name of another device points it here.
  ASSERT_TRUE(cls.AddLDN("Other"));
  EXPECT_EQ(modRegedit::GetStringValue(*store, kPrinterKey, "Other"), "QMT500S");
  EXPECT_EQ(cls.LastWarning(), "");
  // Another device's key is allowed as a name, with a warning that it now leads here.
  ASSERT_TRUE(cls.AddLDN("qmt500s_2"));
  EXPECT_NE(cls.LastWarning().find("key name of the device \"QMT500S_2\""), std::string::npos)
      << cls.LastWarning();
  ASSERT_TRUE(cls.RenameLDN("qmt500s_2", "Side"));
  EXPECT_EQ(cls.LastWarning(), "");
  ASSERT_TRUE(cls.RenameLDN("Side", "QMT500S_2"));
  EXPECT_NE(cls.LastWarning().find("now reaches \"QMT500S\""), std::string::npos) << cls.LastWarning();
  ASSERT_TRUE(cls.RemoveLDN("QMT500S_2"));
  ASSERT_TRUE(cls.RenameLDN("Front", "FRONT"));
  ASSERT_TRUE(cls.RenameLDN("Back", "Rear"));
  auto ldns = Ldns(*store, kPrinterKey);
  std::sort(ldns.begin(), ldns.end());
  EXPECT_EQ(ldns, (std::vector<std::pair<std::string, std::string>>{
                      {"FRONT", "QMT500S"}, {"Other", "QMT500S"}, {"Rear", "QMT500S"}}));
  ASSERT_TRUE(cls.RemoveLDN("rear"));
  EXPECT_FALSE(cls.RemoveLDN(""));
  std::vector<std::string> names, values;
  int16_t count = 0;
  cls.GetLDN(&names, &values, &count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(names.size(), 2u);
}

TEST_F(Devices, SaveKeepsTheKeyAndOnlyUsbTypesWriteUsbValues) {
  cls.mstrPort = "COM3";
  cls.mstrSymbolicLink = "usb:1-1";
  ASSERT_TRUE(cls.Save(false));
  const std::string key = kPrinterKey + "\\QMT500S";
  EXPECT_EQ(modRegedit::GetStringValue(*store, key, "Port"), "COM3");
  reg::Value v;
  EXPECT_EQ(store->QueryValue(reg::Root::LocalMachine, key, "SymbolicLink", &v), reg::kFileNotFound);
  cls.mstrDeviceDesc = std::string(256, 'x');
  EXPECT_FALSE(cls.Save(false));
  EXPECT_NE(cls.LastError().find("DeviceDesc"), std::string::npos);
}

TEST_F(Devices, LoadOfAMissingDeviceOrClassFails) {
  OPOSCls other(*store);
  EXPECT_FALSE(other.Load("POSPrinter", "Nope"));
  EXPECT_NE(other.LastError().find("no device \"Nope\""), std::string::npos);
  EXPECT_EQ(other.mstrPort, "");
  EXPECT_FALSE(other.Load("Scanner", "QMT500S"));
  EXPECT_FALSE(other.Load("POSPrinter", "A\\B"));
}

TEST_F(Devices, UnreadableValuesAreNamed) {
  EXPECT_TRUE(cls.UnreadableValues().empty());
  const std::string key = kPrinterKey + "\\QMT500S";
  ASSERT_EQ(modRegedit::SetStringValue(*store, key, "DeviceDesc", std::string(2000, 'd')), reg::kOk);
  ASSERT_EQ(modRegedit::SetStringValue(*store, key, "Baudrate", "6"), reg::kOk);
  ASSERT_EQ(modRegedit::SetStringValue(*store, key, "Unrelated", std::string(2000, 'u')), reg::kOk);
  EXPECT_EQ(cls.UnreadableValues(), (std::vector<std::string>{"Baudrate", "DeviceDesc"}));
}

TEST(OPOSClsScratch, ListPrinterPairsReadBack) {
  TempStore store;
  OPOSCls cls(*store);
  EXPECT_TRUE(cls.ListPrinter("USB001", "usb:1-1"));
  EXPECT_TRUE(cls.ListPrinter("USB002", "usb:1-2"));
  std::vector<std::string> names, values;
  int16_t count = 0;
  cls.GetListPrinter(&names, &values, &count);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(values, (std::vector<std::string>{"usb:1-1", "usb:1-2"}));
}

}  // namespace
}  // namespace opos::setup
