// The main window's rules without the window: the details panel and its
// buttons for a loaded device, the reset after an action, the logo tool path.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "setup/main_panel.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

std::string Buttons(const PanelState& p) {
  std::string s;
  for (bool b : p.buttons) s += b ? '1' : '0';
  return s;
}

TEST(MainPanel, ButtonsFollowTheDeviceAndItsLogicalNames) {
  testing::TempStore store;
  OPOSCls cls(*store);
  cls.mstrDeviceClass = "POSPrinter";
  cls.mstrKeyName = "Dev1";
  cls.mstrDeviceName = "QMT500S";
  cls.mstrZADConfig = "KELVORA ZAD 1.4";
  // Key names compare without regard to case: "dev1" reaches this device too.
  PanelState p = DevicePanel(cls, {"A", "B", "C", "D"}, {"dev1", "Other", "Dev1", "Dev10"});
  EXPECT_EQ(p.ldns, (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(Buttons(p), "0111111");
  EXPECT_FALSE(p.grey);
  EXPECT_EQ(Buttons(DevicePanel(cls, {"B"}, {"Other"})), "0111100");

  PanelState reset = ResetPanel(p, cls);
  EXPECT_EQ(Buttons(reset), "0010000");
  EXPECT_TRUE(reset.ldns.empty() && reset.data[0].empty());

  cls.mstrDeviceName = "ACME9";
  EXPECT_EQ(Buttons(DevicePanel(cls, {}, {})), "0111000");
  cls.mstrZADConfig = "KELVOR";
  p = DevicePanel(cls, {"A"}, {"Dev1"});
  EXPECT_EQ(Buttons(p), "0100000");
  EXPECT_TRUE(p.grey);

  cls.Clear();  // as after Remove: nothing left to set up
  EXPECT_EQ(Buttons(ResetPanel(DevicePanel(cls, {}, {}), cls)), "0000000");
}

TEST(MainPanel, LogoToolPathCanBeSetThroughTheEnvironment) {
  ::setenv("OPOS_NVLOGOTOOL", "", 1);
  EXPECT_EQ(NvLogoToolPath(), kNvLogoToolPath);
  ::setenv("OPOS_NVLOGOTOOL", "/usr/local/bin/nvlogo", 1);
  EXPECT_EQ(NvLogoToolPath(), "/usr/local/bin/nvlogo");
  ::unsetenv("OPOS_NVLOGOTOOL");
}

}  // namespace
}  // namespace opos::setup
