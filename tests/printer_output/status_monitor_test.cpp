// The status monitor: what enabling reports, cover, paper and power changes
// with their property values, and rest while disabled.
#include <gtest/gtest.h>

#include "printer/status_monitor.h"
#include "tests/printer_output/fakes.h"

namespace opos::test {
namespace {

class StatusMonitorTest : public ::testing::Test {
 protected:
  void Enable(int32_t powerNotify) {
    host_.powerNotify = powerNotify;
    monitor_.Start(&port_, 5);
    monitor_.OnEnabled();
  }
  // Waits for exactly n StatusUpdate events in all and returns their data.
  std::vector<int32_t> Updates(size_t n) {
    host_.WaitEvents(n);
    return host_.Data(SOE_STATUSUPDATE);
  }
  int32_t Prop(int32_t index) const { return props_[index].load(); }

  RecordingPort port_;
  RecordingHost host_;
  PrinterProperties props_{kSerialPrinter};
  CStatusMonitor monitor_{host_, props_};
};

TEST_F(StatusMonitorTest, EnablingAReadyPrinterReportsPowerCoverAndPaper) {
  Enable(OPOS_PN_ENABLED);
  EXPECT_EQ(Updates(3), (std::vector<int32_t>{2001, 12, 26}));
  EXPECT_EQ(host_.powerState.load(), OPOS_PS_ONLINE);
  EXPECT_EQ(Prop(PIDXPtr_ErrorLevel), PTR_EL_NONE);
  // A steady state reports nothing more.
  EXPECT_FALSE(host_.WaitKind(SOE_STATUSUPDATE, 3, nullptr, 60));
}

TEST_F(StatusMonitorTest, WithoutPowerNotifyOnlyCoverAndPaper) {
  Enable(OPOS_PN_DISABLED);
  EXPECT_EQ(Updates(2), (std::vector<int32_t>{12, 26}));
  EXPECT_EQ(host_.powerState.load(), OPOS_PS_UNKNOWN);
}

TEST_F(StatusMonitorTest, CoverOpenAndCloseWithPowerNotify) {
  Enable(OPOS_PN_ENABLED);
  Updates(3);
  port_.ready = OPOS_EPTR_COVER_OPEN;
  EXPECT_EQ(Updates(5), (std::vector<int32_t>{2001, 12, 26, 11, 2004}));
  EXPECT_EQ(Prop(PIDXPtr_CoverOpen), 1);
  EXPECT_EQ(host_.powerState.load(), OPOS_PS_OFF_OFFLINE);
  // The power row came last: its level and text are what remain.
  EXPECT_EQ(Prop(PIDXPtr_ErrorLevel), PTR_EL_FATAL);
  EXPECT_EQ(props_.ErrorString(), "An unrecoverable error has occurred.");

  port_.ready = 0;
  // No paper event: the cover-open report counted the paper as good.
  EXPECT_EQ(Updates(7), (std::vector<int32_t>{2001, 12, 26, 11, 2004, 2001, 12}));
  EXPECT_FALSE(host_.WaitKind(SOE_STATUSUPDATE, 7, nullptr, 60));
  EXPECT_EQ(Prop(PIDXPtr_CoverOpen), 0);
  EXPECT_EQ(Prop(PIDXPtr_ErrorLevel), PTR_EL_NONE);
  EXPECT_EQ(props_.ErrorString(), "");
}

TEST_F(StatusMonitorTest, PaperOutAndBack) {
  Enable(OPOS_PN_DISABLED);
  Updates(2);
  port_.ready = OPOS_EPTR_REC_EMPTY;
  EXPECT_EQ(Updates(3).back(), PTR_SUE_REC_EMPTY);
  EXPECT_EQ(Prop(PIDXPtr_RecEmpty), 1);
  EXPECT_EQ(Prop(PIDXPtr_ErrorLevel), PTR_EL_RECOVERABLE);
  EXPECT_EQ(props_.ErrorString(), "Receipt station is out of paper.");
  port_.ready = 0;
  EXPECT_EQ(Updates(4).back(), PTR_SUE_REC_PAPEROK);
  EXPECT_EQ(Prop(PIDXPtr_RecEmpty), 0);
}

TEST_F(StatusMonitorTest, PrinterOffLosesTheImageAndReportsOnlyPower) {
  Enable(OPOS_PN_ENABLED);
  Updates(3);
  port_.ready = OPOS_E_ILLEGAL;
  EXPECT_EQ(Updates(4).back(), OPOS_SUE_POWER_OFF_OFFLINE);
  EXPECT_GE(host_.imagesLost.load(), 1);
  EXPECT_FALSE(host_.WaitKind(SOE_STATUSUPDATE, 4, nullptr, 60));
  EXPECT_EQ(Prop(PIDXPtr_CoverOpen), 0);
  EXPECT_EQ(Prop(PIDXPtr_RecEmpty), 0);
}

TEST_F(StatusMonitorTest, DisabledMonitorRestsAndReenablingReportsAfresh) {
  Enable(OPOS_PN_DISABLED);
  Updates(2);
  host_.enabled = false;
  port_.ready = OPOS_EPTR_COVER_OPEN;
  EXPECT_FALSE(host_.WaitKind(SOE_STATUSUPDATE, 2, nullptr, 80));
  const int checks = port_.checks.load();
  EXPECT_FALSE(host_.WaitKind(SOE_STATUSUPDATE, 2, nullptr, 50));
  EXPECT_LE(port_.checks.load(), checks + 1);  // at rest: no further passes
  host_.enabled = true;
  monitor_.OnEnabled();
  EXPECT_EQ(Updates(3).back(), PTR_SUE_COVER_OPEN);
}

TEST_F(StatusMonitorTest, StartResetsTheCellsToBadAndStopIsPrompt) {
  // After a claim without enabling, a direct pass with a ready printer
  // reports the good state (the cells start at 0, not unknown).
  monitor_.Start(&port_, 5);
  monitor_.Check(0);
  EXPECT_EQ(Updates(2), (std::vector<int32_t>{12, 26}));
  monitor_.Stop();
  monitor_.Stop();
}

}  // namespace
}  // namespace opos::test
