// The poller, DrawerEventThread and the StatusUpdate events they raise.
#include "tests/drawer/drawer_fakes.h"

namespace opos::test {
namespace {

int32_t Opened(CCashDrawer& d) {
  return d.GetPropertyNumber(PIDXCash_DrawerOpened);
}

TEST_F(DrawerTest, OpenLevelOtherThanZeroActsAsOne) {
  OpenAndClaim({2, 7});
  port_->drawerSensorLow = 1;
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(control_.status[0], CASH_SUE_DRAWEROPEN);
  EXPECT_EQ(Opened(*drawer_), 1);
}

TEST_F(DrawerTest, DisabledDrawerIsNotReadAndReenablingReportsAfresh) {
  OpenAndClaim();
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  drawer_->SetPropertyNumber(PIDX_DeviceEnabled, 0);
  port_->drawerSensorLow = 1;
  PumpFor(2200);
  EXPECT_EQ(control_.status.size(), 1u);
  EXPECT_EQ(Opened(*drawer_), 0);

  Enable();
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(control_.status[1], CASH_SUE_DRAWEROPEN);
  // The same state is reported again after the next enabling.
  drawer_->SetPropertyNumber(PIDX_DeviceEnabled, 0);
  Enable();
  ASSERT_TRUE(PumpUntilEvents(3));
  EXPECT_EQ(control_.status[2], CASH_SUE_DRAWEROPEN);
}

TEST_F(DrawerTest, ParallelPollerKeepsReadingWhileDisabled) {
  OpenAndClaim({}, kFakeParallel);
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  drawer_->SetPropertyNumber(PIDX_DeviceEnabled, 0);
  port_->drawerSensorLow = 1;
  const uint32_t start = platform::TickCount();
  while (Opened(*drawer_) != 1 && platform::TickCount() - start < 3000) PumpFor(50);
  EXPECT_EQ(Opened(*drawer_), 1);
}

TEST_F(DrawerTest, SensorComesFromThePrinterPortOnlyWhileThePrinterIsQuiet) {
  OpenAndClaim();
  AttachPrinter();
  port_->drawerSensorLow = 1;  // the drawer's own port object is not read while a printer is on the port
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(control_.status[0], CASH_SUE_DRAWERCLOSED);

  printer_.busy = true;
  printer_.port.drawerSensorLow = 1;
  PumpFor(2500);
  EXPECT_EQ(control_.status.size(), 1u);
  EXPECT_EQ(Opened(*drawer_), 0);

  printer_.busy = false;
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(control_.status[1], CASH_SUE_DRAWEROPEN);
}

TEST_F(DrawerTest, DrawerAloneSkipsPassesWhileItsPortIsNotReady) {
  OpenAndClaim();
  port_->checkReadyAnswer = OPOS_E_ILLEGAL;
  port_->drawerSensorLow = 1;
  Enable();
  PumpFor(2200);
  EXPECT_TRUE(control_.status.empty());
  EXPECT_GE(port_->checkReadyCalls.load(), 2);
  port_->checkReadyAnswer = 0;
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(control_.status[0], CASH_SUE_DRAWEROPEN);
}

TEST_F(DrawerTest, ReleaseEndsEveryThreadPromptlyAndAClaimStartsAfresh) {
  OpenAndClaim();
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_LT(platform::TickCount() - start, 1000u);
  EXPECT_EQ(port_->closeCalls.load(), 1);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_Claimed), 0);

  port_->drawerSensorLow = 1;
  ASSERT_EQ(drawer_->ClaimDevice(0), OPOS_SUCCESS);
  Enable();
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(control_.status[1], CASH_SUE_DRAWEROPEN);
}

}  // namespace
}  // namespace opos::test
