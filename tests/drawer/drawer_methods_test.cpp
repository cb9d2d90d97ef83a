// OpenDrawer, the common refusals, CheckHealth and DirectIO of the drawer on a
// fake port.
#include "tests/drawer/drawer_fakes.h"

namespace opos {
const LibraryProfile& ThisLibrary() {
  return test::kFakeSerial;
}
}  // namespace opos

namespace opos::test {
namespace {

const std::string kPin5 = Bytes({0x1B, 0x70, 0x31, 0x64, 0xC8});

uint32_t Since(uint32_t start) {
  return platform::TickCount() - start;
}

TEST_F(DrawerTest, DrawerPropertiesBeforeAndAfterClaim) {
  Open();
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDXCash_CapStatus), 1);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDXCash_DrawerOpened), 0);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_CapPowerReporting), OPOS_PR_NONE);
  ASSERT_EQ(drawer_->ClaimDevice(0), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->GetPropertyString(PIDX_CheckHealthText), "Not Executed");
  // The port knows its service is this drawer, and no printer, before it opens.
  EXPECT_NE(port_->drawer.load(), nullptr);
  EXPECT_EQ(port_->printer.load(), nullptr);
}

TEST_F(DrawerTest, PulseRefusedWhenWriteFailsOrPortLatchedAnError) {
  OpenAndClaim({2});
  port_->writeResult = 0;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_E_ILLEGAL);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(port_->Writes().size(), 1u);

  port_->writeResult = 1;
  port_->errorLatched = 1;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_E_ILLEGAL);
  EXPECT_EQ(port_->Writes().size(), 1u);
  port_->errorLatched = 0;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  EXPECT_EQ(port_->Writes().size(), 2u);
}

TEST_F(DrawerTest, Pin5AloneAsksThePortWhetherItIsReady) {
  OpenAndClaim({5});
  port_->checkReadyAnswer = OPOS_E_ILLEGAL;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_E_ILLEGAL);
  EXPECT_TRUE(port_->Writes().empty());
  port_->checkReadyAnswer = 0;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  EXPECT_EQ(port_->Writes().size(), 1u);
}

TEST_F(DrawerTest, WithAPrinterOnThePortItsPortDecides) {
  OpenAndClaim({5});
  AttachPrinter();
  port_->checkReadyAnswer = OPOS_E_ILLEGAL;  // the drawer's own view is not asked
  printer_.port.errorLatched = 1;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_E_ILLEGAL);
  EXPECT_TRUE(port_->Writes().empty());
  printer_.port.errorLatched = 0;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  ASSERT_EQ(port_->Writes().size(), 1u);
  EXPECT_EQ(port_->Writes()[0].bytes, kPin5);
  EXPECT_TRUE(printer_.port.Writes().empty());  // the pulse goes through the drawer's port object
}

TEST_F(DrawerTest, PulseWaitsForBusyPrinterAndIdlePrinterDelaysNothing) {
  OpenAndClaim({2});
  AttachPrinter();
  uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  EXPECT_LT(Since(start), 300u);

  start = platform::TickCount();
  printer_.busyUntil = start + 1200;
  printer_.busy = true;
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  const auto writes = port_->Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_GE(writes[1].tick - start, 1200u);
  EXPECT_LT(writes[1].tick - start, 1200u + 500u + 300u);
}

TEST_F(DrawerTest, PrinterBusyForFiveSecondsIsAnErrorNotASilentSuccess) {
  OpenAndClaim({2});
  Enable();
  AttachPrinter();
  printer_.busy = true;  // without end
  uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_E_ILLEGAL);
  EXPECT_GE(Since(start), 5000u);
  EXPECT_LT(Since(start), 6500u);
  EXPECT_TRUE(port_->Writes().empty());

  start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_E_ILLEGAL);
  EXPECT_GE(Since(start), 5000u);
  EXPECT_LT(Since(start), 6500u);
}

TEST_F(DrawerTest, CheckHealthAndDirectIO) {
  Open();
  int32_t data = 7;
  std::string text = "x";
  EXPECT_EQ(drawer_->DirectIO(1, &data, &text), OPOS_SUCCESS);  // no claim needed
  EXPECT_EQ(drawer_->DirectIO(2, &data, &text), OPOS_E_ILLEGAL);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(data, 7);
  EXPECT_EQ(text, "x");

  EXPECT_EQ(drawer_->CheckHealth(OPOS_CH_INTERNAL), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(drawer_->ClaimDevice(0), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->CheckHealth(OPOS_CH_INTERNAL), OPOS_E_DISABLED);
  Enable();
  EXPECT_EQ(drawer_->CheckHealth(OPOS_CH_INTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->CheckHealth(OPOS_CH_EXTERNAL), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->GetPropertyString(PIDX_CheckHealthText), "Not Executed");
  EXPECT_EQ(drawer_->CheckHealth(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(drawer_->CheckHealth(4), OPOS_E_ILLEGAL);
  EXPECT_TRUE(port_->Writes().empty());
}

}  // namespace
}  // namespace opos::test
