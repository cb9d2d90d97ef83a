// Events from the real serial library, with the virtual printer as the device:
// delivered on the opening thread, in order, only when that thread pumps; the
// queue's descriptor readable exactly while deliveries wait; Error answers
// reaching the output worker; printer and drawer side by side on one thread.
#include <thread>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "tests/control/control_test_support.h"

namespace opos::control::testing {
namespace {

struct Seen {
  std::string what;
  int32_t value;
  std::thread::id thread;
  bool operator==(const Seen&) const = default;
};

// Delivers events as they arrive, waiting on the queue's descriptor, until
// done() holds; false when timeoutMs pass first.
bool DeliverUntil(ControlObject& co, const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) return false;
    if (Readable(co.EventFd(), static_cast<int>(left))) co.DispatchEvents();
  }
  return true;
}

class EventsTest : public ControlEnvironment {
 protected:
  void SetUp() override {
    ControlEnvironment::SetUp();
    SetUpRealDevices();
    printer.OnStatusUpdate([this](int32_t d) { Record("status", d); });
    printer.OnOutputComplete([this](int32_t id) { Record("complete", id); });
    printer.OnError([this](int32_t, int32_t rce, int32_t, int32_t& response) {
      Record("error", rce);
      stateInError.push_back(printer.State());
      if (answer) answer(response);
    });
    ASSERT_EQ(printer.Open("Receipt"), OPOS_SUCCESS) << printer.LastErrorText();
    ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
  }
  void TearDown() override {
    printer.Close();
    ControlEnvironment::TearDown();
  }

  void Record(const char* what, int32_t value) { seen.push_back({what, value, std::this_thread::get_id()}); }
  size_t Count(const char* what, int32_t value) const {
    size_t n = 0;
    for (const Seen& s : seen) n += s.what == what && s.value == value;
    return n;
  }
  std::function<bool()> Saw(const char* what, int32_t value) {
    return [this, what, value] { return Count(what, value) > 0; };
  }

  POSPrinter printer;
  std::vector<Seen> seen;
  std::vector<int32_t> stateInError;
  std::function<void(int32_t&)> answer;
};

TEST_F(EventsTest, QueueDescriptorIsReadableExactlyWhileDeliveriesWait) {
  // Settle what the claim may have raised.
  while (Readable(printer.EventFd(), 300)) printer.DispatchEvents();
  seen.clear();

  // FlagWhenIdle on an idle printer raises StatusUpdate(Idle) at once.
  printer.SetFlagWhenIdle(true);
  ASSERT_TRUE(Readable(printer.EventFd(), 5000));
  EXPECT_TRUE(seen.empty()) << "delivered without pumping";
  EXPECT_GE(printer.DispatchEvents(), 1u);
  EXPECT_EQ(seen, (std::vector<Seen>{{"status", PTR_SUE_IDLE, std::this_thread::get_id()}}));
  EXPECT_FALSE(Readable(printer.EventFd(), 0));
  EXPECT_FALSE(Readable(printer.EventFd(), 300));
}

TEST_F(EventsTest, OutputCompletesArriveInOrderOnTheOpeningThread) {
  printer.SetAsyncMode(true);
  printer.SetDeviceEnabled(true);
  ASSERT_TRUE(printer.DeviceEnabled());
  for (const char* line : {"one\n", "two\n", "three\n"}) {
    ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, line), OPOS_SUCCESS);
  }
  ASSERT_TRUE(DeliverUntil(printer, Saw("complete", 3)));
  std::vector<int32_t> ids;
  for (const Seen& s : seen) {
    EXPECT_EQ(s.thread, std::this_thread::get_id()) << s.what;
    if (s.what == "complete") ids.push_back(s.value);
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_TRUE(PrinterReceives("three\n"));
}

TEST_F(EventsTest, StatusUpdatesFollowThePrinter) {
  printer.SetDeviceEnabled(true);
  printer_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil(printer, Saw("status", PTR_SUE_COVER_OPEN)));
  EXPECT_TRUE(printer.CoverOpen());
  printer_->SetCoverOpen(false);
  ASSERT_TRUE(DeliverUntil(printer, [&] {
    // Only a cover-closed report after the cover-open one counts.
    bool open = false;
    for (const Seen& s : seen) {
      if (s.what == "status" && s.value == PTR_SUE_COVER_OPEN) open = true;
      if (open && s.what == "status" && s.value == PTR_SUE_COVER_OK) return true;
    }
    return false;
  }));
  EXPECT_FALSE(printer.CoverOpen());
}

TEST_F(EventsTest, ClearAnswerDropsTheFailedJob) {
  printer.SetDeviceEnabled(true);
  printer_->SetPaperEnd(true);
  ASSERT_TRUE(DeliverUntil(printer, Saw("status", PTR_SUE_REC_EMPTY)));
  printer.SetAsyncMode(true);
  answer = [](int32_t& response) {
    EXPECT_EQ(response, OPOS_ER_RETRY);  // proposed
    response = OPOS_ER_CLEAR;
  };
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "lost\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(printer, Saw("error", OPOS_EPTR_REC_EMPTY)));
  EXPECT_EQ(stateInError, std::vector<int32_t>{OPOS_S_ERROR});
  EXPECT_EQ(printer.State(), OPOS_S_IDLE);

  printer_->SetPaperEnd(false);
  ASSERT_TRUE(DeliverUntil(printer, Saw("status", PTR_SUE_REC_PAPEROK)));
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "kept\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(printer, Saw("complete", 2)));
  // Job 1 was cleared by the answer: never completed, never retried.
  EXPECT_EQ(Count("complete", 1), 0u);
  EXPECT_EQ(Count("error", OPOS_EPTR_REC_EMPTY), 1u);
  EXPECT_TRUE(PrinterReceives("kept\n"));
}

TEST_F(EventsTest, RetryAnswerPrintsTheJobOnceTheFaultIsGone) {
  printer.SetDeviceEnabled(true);
  printer_->SetPaperEnd(true);
  ASSERT_TRUE(DeliverUntil(printer, Saw("status", PTR_SUE_REC_EMPTY)));
  printer.SetAsyncMode(true);
  answer = [this](int32_t& response) {
    printer_->SetPaperEnd(false);
    response = OPOS_ER_RETRY;
  };
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "retried\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(printer, Saw("complete", 1)));
  EXPECT_GE(Count("error", OPOS_EPTR_REC_EMPTY), 1u);
  EXPECT_TRUE(PrinterReceives("retried\n"));
}

TEST_F(EventsTest, CloseInsideOwnHandlerIsRefusedInsteadOfDeadlocking) {
  int32_t closeRc = -1, releaseRc = -1;
  bool ran = false;
  printer.OnStatusUpdate([&](int32_t d) {
    if (d != PTR_SUE_IDLE) return;
    ran = true;
    closeRc = printer.Close();
    releaseRc = printer.ReleaseDevice();
  });
  printer.SetFlagWhenIdle(true);
  ASSERT_TRUE(DeliverUntil(printer, [&] { return ran; }));
  EXPECT_EQ(closeRc, OPOS_E_ILLEGAL);
  EXPECT_EQ(releaseRc, OPOS_E_ILLEGAL);
  EXPECT_TRUE(printer.Claimed());
  EXPECT_EQ(printer.Close(), OPOS_SUCCESS);
}

TEST_F(EventsTest, PrinterAndDrawerShareTheThreadAndKeepTheirEvents) {
  CashDrawer drawer;
  std::vector<int32_t> drawerSeen;
  drawer.OnStatusUpdate([&](int32_t d) { drawerSeen.push_back(d); });
  ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS) << drawer.LastErrorText();
  EXPECT_EQ(drawer.EventFd(), printer.EventFd());
  ASSERT_EQ(drawer.ClaimDevice(1000), OPOS_SUCCESS);
  drawer.SetDeviceEnabled(true);  // reports the current state afresh
  ASSERT_TRUE(DeliverUntil(drawer, [&] { return !drawerSeen.empty(); }));
  EXPECT_EQ(drawerSeen.front(), CASH_SUE_DRAWERCLOSED);

  const size_t printerEvents = seen.size();
  ASSERT_EQ(drawer.OpenDrawer(), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(drawer, [&] { return drawerSeen.back() == CASH_SUE_DRAWEROPEN; }));
  EXPECT_TRUE(drawer.DrawerOpened());
  EXPECT_EQ(printer_->DrawerKicks(), 1u);
  for (size_t i = printerEvents; i < seen.size(); ++i) {
    EXPECT_NE(seen[i].what, "status") << "a drawer report reached the printer: " << seen[i].value;
  }
  EXPECT_EQ(drawer.Close(), OPOS_SUCCESS);
}

}  // namespace
}  // namespace opos::control::testing
