// The main window's rules without the window: the details panel and its
// buttons for a loaded device, the reset after an action, the logo tool path.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "setup/main_panel.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using testing::TempStore;

std::string Buttons(const PanelState& p) {
  std::string s;
  for (bool b : p.buttons) s += b ? '1' : '0';
  return s;
}

class Panel : public ::testing::Test {
 protected:
  OPOSCls Device(const std::string& type, const std::string& zad) {
    OPOSCls cls(*store);
    cls.mstrDeviceClass = "POSPrinter";
    cls.mstrKeyName = "Dev1";
    cls.mstrDeviceName = type;
    cls.mstrZADConfig = zad;
    return cls;
  }
  TempStore store;
};

TEST_F(Panel, LogicalNamesOfTheDeviceInEnumerationOrderWhateverTheirCase) {
  OPOSCls cls = Device("QMT500S", "KELVORA ZAD 1.4");
  PanelState p = DevicePanel(cls, {"A", "B", "C", "D"}, {"dev1", "Other", "Dev1", "Dev10"});
  EXPECT_EQ(p.ldns, (std::vector<std::string>{"A", "C"}));
  EXPECT_TRUE(p.ldnEnabled);
  EXPECT_FALSE(p.grey);
  EXPECT_EQ(Buttons(p), "0111111");
  EXPECT_EQ(p.data[0], "QMT500S");
  EXPECT_EQ(p.data[2], "KELVORA ZAD 1.4");
}

TEST_F(Panel, ForeignConfigurationLeavesOnlyRemovalWhateverTheType) {
  for (const char* type : {"QMT500S", "ACME9"}) {
    PanelState p = DevicePanel(Device(type, "KELVOR"), {"A"}, {"Dev1"});
    EXPECT_EQ(Buttons(p), "0100000") << type;
    EXPECT_TRUE(p.grey);
    EXPECT_TRUE(p.ldnEnabled);  // shown, but nothing may be done with it
  }
  PanelState unknown = DevicePanel(Device("QMT500X", "KELVORA"), {}, {});
  EXPECT_EQ(Buttons(unknown), "0111000");
  EXPECT_TRUE(unknown.grey);
}

TEST_F(Panel, ResetKeepsDeviceSetupOnlyWhileADeviceIsHeld) {
  OPOSCls cls = Device("QMT500S", "KELVORA ZAD 1.4");
  PanelState shown = DevicePanel(cls, {"A"}, {"Dev1"});
  PanelState reset = ResetPanel(shown, cls);
  EXPECT_EQ(Buttons(reset), "0010000");
  EXPECT_TRUE(reset.ldns.empty());
  EXPECT_TRUE(reset.data[0].empty());
  cls.Clear();  // as after Remove
  EXPECT_EQ(Buttons(ResetPanel(shown, cls)), "0000000");
  EXPECT_EQ(Buttons(ResetPanel(ClassNodePanel(), Device("QMT500S", "KELVORA"))), "0000000");
  EXPECT_EQ(Buttons(StartPanel()), "0000000");
}

TEST(MainPanelRules, DrawerNeedsAPrinterAndNamesNeedText) {
  EXPECT_EQ(AddDeviceRefusal("CashDrawer", 0), "Not Installed Printer can connect with the CashDrawer!!");
  EXPECT_EQ(AddDeviceRefusal("CashDrawer", 1), "");
  EXPECT_EQ(AddDeviceRefusal("POSPrinter", 0), "");
  EXPECT_FALSE(RenameAccepted("Receipt", "Receipt"));
  EXPECT_FALSE(RenameAccepted("Receipt", ""));
  EXPECT_TRUE(RenameAccepted("Receipt", "receipt"));
}

TEST(MainPanelRules, LogoToolPathCanBeSetThroughTheEnvironment) {
  ::unsetenv("OPOS_NVLOGOTOOL");
  EXPECT_EQ(NvLogoToolPath(), kNvLogoToolPath);
  ::setenv("OPOS_NVLOGOTOOL", "", 1);
  EXPECT_EQ(NvLogoToolPath(), kNvLogoToolPath);
  ::setenv("OPOS_NVLOGOTOOL", "/usr/local/bin/nvlogo", 1);
  EXPECT_EQ(NvLogoToolPath(), "/usr/local/bin/nvlogo");
  ::unsetenv("OPOS_NVLOGOTOOL");
}

}  // namespace
}  // namespace opos::setup
