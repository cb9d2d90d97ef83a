// Status monitoring end to end: what enabling reports, and the cover going
// open and shut, with PowerNotify.
#include "tests/receipt/receipt_env.h"

namespace opos::receipt {
namespace {

class StatusReceipt : public ReceiptEnvironment {};

TEST_F(StatusReceipt, EnablingAndTheCoverWithPowerNotify) {
  OpenPrinter();
  printer.SetPowerNotify(OPOS_PN_ENABLED);
  ASSERT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  Enable();
  ASSERT_TRUE(DeliverUntil([this] { return Values("status").size() >= 3; }));
  EXPECT_EQ(Values("status"), (std::vector<int32_t>{2001, 12, 26}));
  EXPECT_EQ(printer.PowerState(), OPOS_PS_ONLINE);
  // PowerNotify cannot change while enabled.
  printer.SetPowerNotify(OPOS_PN_DISABLED);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_ILLEGAL);

  vprinter_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil(Saw("status", OPOS_SUE_POWER_OFF_OFFLINE)));
  EXPECT_EQ(Values("status"), (std::vector<int32_t>{2001, 12, 26, 11, 2004}));
  EXPECT_TRUE(printer.CoverOpen());
  EXPECT_EQ(printer.PowerState(), OPOS_PS_OFF_OFFLINE);

  vprinter_->SetCoverOpen(false);
  ASSERT_TRUE(DeliverUntil(Saw("status", PTR_SUE_COVER_OK, 2)));
  EXPECT_EQ(Values("status"), (std::vector<int32_t>{2001, 12, 26, 11, 2004, 2001, 12}));
  EXPECT_FALSE(printer.CoverOpen());
  EXPECT_EQ(printer.ErrorLevel(), PTR_EL_NONE);
}

TEST_F(StatusReceipt, WithoutPowerNotifyAndAfterReenabling) {
  OpenPrinter();
  Enable();
  ASSERT_TRUE(DeliverUntil([this] { return Values("status").size() >= 2; }));
  EXPECT_EQ(Values("status"), (std::vector<int32_t>{12, 26}));
  EXPECT_EQ(printer.PowerState(), OPOS_PS_UNKNOWN);
  // Disabled: the paper running out is not reported.
  printer.SetDeviceEnabled(false);
  vprinter_->SetPaperEnd(true);
  EXPECT_FALSE(DeliverUntil([this] { return Values("status").size() >= 3; }, 1200));
  // Enabled again: the state is reported afresh.
  Enable();
  ASSERT_TRUE(DeliverUntil(Saw("status", PTR_SUE_REC_EMPTY)));
  EXPECT_TRUE(printer.RecEmpty());
  EXPECT_EQ(printer.GetPropertyString(PIDXPtr_ErrorString), "Receipt station is out of paper.");
}

TEST_F(StatusReceipt, APrinterThatVanishesReportsPowerOffOnly) {
  OpenPrinter();
  printer.SetPowerNotify(OPOS_PN_ENABLED);
  Enable();
  ASSERT_TRUE(DeliverUntil([this] { return Values("status").size() >= 3; }));
  vprinter_->Stop();
  ASSERT_TRUE(DeliverUntil(Saw("status", OPOS_SUE_POWER_OFF_OFFLINE)));
  EXPECT_FALSE(DeliverUntil([this] { return Values("status").size() > 4; }, 1200));
  EXPECT_EQ(Values("status"), (std::vector<int32_t>{2001, 12, 26, 2004}));
  EXPECT_EQ(printer.ErrorLevel(), PTR_EL_FATAL);
  EXPECT_FALSE(printer.CoverOpen());
}

}  // namespace
}  // namespace opos::receipt
