// Event delivery: the opening thread, queue order, both freezes, the Error
// handler's State and answer, the purge, and release while frozen.
#include <atomic>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "common/opos.h"
#include "platform/message_queue.h"
#include "printer/pos_printer.h"
#include "tests/service/fake_library.h"
#include "tests/service/test_sink.h"
#include "tests/service/test_support.h"

namespace opos::test {
namespace {

// Exposes the event purge for the test.
class PurgingPrinter : public CPOSPrinter {
 public:
  void Purge() { events_.BeginEventPurge(); }
};

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    UseProfile(TransportKind::Serial);
    FakePort::Reset();
    reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
    printer_ = new PurgingPrinter();
    ASSERT_EQ(printer_->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  }
  void TearDown() override { printer_->Release(); }

  void Queue(int32_t kind, int32_t p1, int32_t p2 = 0, int32_t p3 = 0, int32_t p4 = 0) {
    printer_->QueueEvent(std::make_unique<CSOEvent>(kind, p1, p2, p3, p4));
  }
  // Pumps until n events have arrived (bounded).
  std::vector<SinkEvent> PumpFor(size_t n) {
    for (int i = 0; i < 50 && sink_.Events().size() < n; ++i) platform::PumpWait(100);
    return sink_.Events();
  }
  static std::vector<int32_t> StatusData(const std::vector<SinkEvent>& ev) {
    std::vector<int32_t> out;
    for (auto& e : ev) {
      if (e.method == "SOStatusUpdate") out.push_back(e.args[0]);
    }
    return out;
  }

  TempRegistry reg_;
  TestSink sink_;
  PurgingPrinter* printer_ = nullptr;
};

TEST_F(Events, DeliveredOnTheOpeningThreadInOrder) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  // Raised from another thread, as the workers do.
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) Queue(SOE_STATUSUPDATE, i);
    Queue(SOE_OUTPUTCOMPLETE, 7);
  });
  worker.join();
  auto ev = PumpFor(21);
  ASSERT_EQ(ev.size(), 21u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ev[i].args[0], i + 1);
  EXPECT_EQ(ev[20].method, "SOOutputComplete");
  for (auto& e : ev) EXPECT_EQ(e.thread, std::this_thread::get_id());
}

TEST_F(Events, BothFreezesHoldEventsInOrder) {
  // A freeze set before the claim holds the first events.
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 1);
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  Queue(SOE_STATUSUPDATE, 1);
  Queue(SOE_STATUSUPDATE, 2);
  printer_->COFreezeEvents(1);
  Queue(SOE_STATUSUPDATE, 3);
  platform::PumpWait(300);
  EXPECT_TRUE(sink_.Events().empty());
  // One freeze off is not enough.
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 0);
  platform::PumpWait(300);
  EXPECT_TRUE(sink_.Events().empty());
  printer_->COFreezeEvents(0);
  EXPECT_EQ(StatusData(PumpFor(3)), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(Events, FreezeSetInAHandlerHoldsWhatWasQueuedWithIt) {
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 1);
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  for (int32_t i = 1; i <= 3; ++i) Queue(SOE_STATUSUPDATE, i);
  sink_.onEvent = [&](const SinkEvent& e) {
    if (e.args[0] == 1) printer_->SetPropertyNumber(PIDX_FreezeEvents, 1);
  };
  // All three are waiting when delivery starts; the first handler's freeze holds the other two.
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 0);
  EXPECT_EQ(StatusData(PumpFor(1)), (std::vector<int32_t>{1}));
  platform::PumpWait(300);
  EXPECT_EQ(StatusData(sink_.Events()), (std::vector<int32_t>{1}));
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 0);
  EXPECT_EQ(StatusData(PumpFor(3)), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(Events, QueuedWhileDeliveringAndFreezingArriveOnceInOrder) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  constexpr int32_t kCount = 2000;
  // Every 100th handler freezes and the pump thaws, so deliveries alternate
  // between those QueueEvent posts and those EventThread posts after a freeze,
  // while the worker keeps queueing.
  sink_.onEvent = [&](const SinkEvent& e) {
    if (e.args[0] % 100 == 0) printer_->SetPropertyNumber(PIDX_FreezeEvents, 1);
  };
  std::thread worker([&] {
    for (int32_t i = 1; i <= kCount; ++i) Queue(SOE_STATUSUPDATE, i);
  });
  for (int i = 0; i < 500 && sink_.Events().size() < kCount; ++i) {
    platform::PumpWait(10);
    printer_->SetPropertyNumber(PIDX_FreezeEvents, 0);
  }
  worker.join();
  std::vector<int32_t> want(kCount);
  std::iota(want.begin(), want.end(), 1);
  auto ev = sink_.Events();
  EXPECT_EQ(StatusData(ev), want);
  for (auto& e : ev) EXPECT_EQ(e.thread, std::this_thread::get_id());
}

TEST_F(Events, ErrorHandlerSeesErrorStateAndItsAnswerIsKept) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  int32_t stateInside = 0;
  sink_.onError = [&](int32_t* response) {
    stateInside = printer_->GetPropertyNumber(PIDX_State);
    EXPECT_EQ(*response, OPOS_ER_RETRY);
    *response = OPOS_ER_CLEAR;
  };
  Queue(SOE_ERROR, OPOS_E_EXTENDED, 201, OPOS_EL_OUTPUT, OPOS_ER_RETRY);
  auto ev = PumpFor(1);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].method, "SOError");
  EXPECT_EQ(ev[0].args, (std::vector<int32_t>{OPOS_E_EXTENDED, 201, OPOS_EL_OUTPUT, OPOS_ER_CLEAR}));
  EXPECT_EQ(stateInside, OPOS_S_ERROR);
  EXPECT_EQ(printer_->GetPropertyNumber(PIDX_State), OPOS_S_IDLE);
}

TEST_F(Events, PurgeDropsEverythingUpToTheLastQueuedErrorOrCompletion) {
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 1);
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  Queue(SOE_OUTPUTCOMPLETE, 1);
  Queue(SOE_STATUSUPDATE, 99);  // between two purged records: dropped too
  Queue(SOE_OUTPUTCOMPLETE, 2);
  printer_->Purge();
  Queue(SOE_STATUSUPDATE, 5);
  printer_->SetPropertyNumber(PIDX_FreezeEvents, 0);
  auto ev = PumpFor(1);
  platform::PumpWait(200);
  ev = sink_.Events();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].method, "SOStatusUpdate");
  EXPECT_EQ(ev[0].args[0], 5);

  // With nothing to purge, no later record is lost.
  printer_->Purge();
  Queue(SOE_STATUSUPDATE, 6);
  EXPECT_EQ(StatusData(PumpFor(2)), (std::vector<int32_t>{5, 6}));
}

TEST_F(Events, ReleaseWhileFrozenDestroysQueuedEvents) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  printer_->COFreezeEvents(1);
  for (int i = 0; i < 5; ++i) Queue(SOE_STATUSUPDATE, i);
  EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  printer_->COFreezeEvents(0);
  platform::PumpWait(200);
  EXPECT_TRUE(sink_.Events().empty());
  // A new claim starts with an empty queue.
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  Queue(SOE_STATUSUPDATE, 42);
  EXPECT_EQ(StatusData(PumpFor(1)), (std::vector<int32_t>{42}));
}

TEST_F(Events, ReleaseFromInsideItsOwnHandlerIsRefusedNotADeadlock) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  int32_t releaseInside = 0, closeInside = 0;
  sink_.onError = [&](int32_t*) {
    releaseInside = printer_->ReleaseDevice();
    closeInside = printer_->CloseService();
  };
  Queue(SOE_ERROR, OPOS_E_EXTENDED, 201, OPOS_EL_OUTPUT, OPOS_ER_RETRY);
  ASSERT_EQ(PumpFor(1).size(), 1u);
  EXPECT_EQ(releaseInside, OPOS_E_ILLEGAL);
  EXPECT_EQ(closeInside, OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_->GetPropertyNumber(PIDX_Claimed), 1);
  EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
}

TEST_F(Events, ReleaseNeverHangsOnAnUndeliveredPost) {
  ASSERT_EQ(printer_->ClaimDevice(0), OPOS_SUCCESS);
  // Posted to this thread's queue but never pumped before the release: the
  // release must not wait for a delivery that this very thread would run.
  Queue(SOE_STATUSUPDATE, 1);
  EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  // Nothing is delivered twice or after the release.
  platform::PumpWait(100);
  auto ev = sink_.Events();
  EXPECT_EQ(ev.size(), 1u);  // delivered once, by the release's own pump
}

}  // namespace
}  // namespace opos::test
