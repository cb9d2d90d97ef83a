// Asynchronous output end to end: OutputIDs, completion order, the idle
// flag, Error events with their answers, ClearOutput, and the process-ID
// confirmation of the "QMT-500".
#include <chrono>
#include <thread>

#include "tests/receipt/receipt_env.h"

namespace opos::receipt {
namespace {

class AsyncReceipt : public ReceiptEnvironment {
 protected:
  void Start(const std::string& model = "QMT500", vprinter::PrinterConfig config = {}) {
    OpenPrinter(model, config);
    Enable();
    printer.SetAsyncMode(true);
    ASSERT_TRUE(printer.AsyncMode());
  }
  // Opens the cover and waits until the Service Object has seen it.
  void OpenCover() {
    vprinter_->SetCoverOpen(true);
    ASSERT_TRUE(DeliverUntil([this] { return printer.CoverOpen(); }));
  }
  // Inside an Error handler (no pumping there): closes the cover and waits
  // until the status monitor has seen it close.
  void CloseCoverAndWait() {
    vprinter_->SetCoverOpen(false);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (printer.CoverOpen() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
};

TEST_F(AsyncReceipt, ThreePrintsCompleteInOrderThenIdleOnce) {
  Start();
  std::vector<int32_t> statesAtCompletion;
  onComplete = [&](int32_t) { statesAtCompletion.push_back(printer.State()); };
  const int32_t base = printer.OutputID();
  const auto start = std::chrono::steady_clock::now();
  for (const char* line : {"one\n", "two\n", "three\n"}) {
    ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, line), OPOS_SUCCESS);
  }
  // Each call returned at once with the next ID.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(printer.OutputID(), base + 3);
  printer.SetFlagWhenIdle(true);

  ASSERT_TRUE(DeliverUntil(Saw("status", PTR_SUE_IDLE)));
  EXPECT_EQ(Values("complete"), (std::vector<int32_t>{base + 1, base + 2, base + 3}));
  ASSERT_EQ(statesAtCompletion.size(), 3u);
  EXPECT_EQ(statesAtCompletion[0], OPOS_S_BUSY);  // the next jobs were under way
  EXPECT_EQ(printer.State(), OPOS_S_IDLE);
  EXPECT_FALSE(printer.FlagWhenIdle());
  EXPECT_EQ(Captured(), kPrefix + "one\n" + kPrefix + "two\n" + kPrefix + "three\n");
  // Once only.
  EXPECT_FALSE(DeliverUntil(Saw("status", PTR_SUE_IDLE, 2), 300));
}

TEST_F(AsyncReceipt, CoverOpenErrorsAnsweredWithClearThenRetry) {
  Start();
  OpenCover();
  std::vector<int32_t> levels, stations, states;
  std::vector<std::string> texts;
  onError = [&](int32_t& response) {
    levels.push_back(printer.ErrorLevel());
    stations.push_back(printer.ErrorStation());
    states.push_back(printer.State());
    texts.push_back(printer.GetPropertyString(PIDXPtr_ErrorString));
    // The first job is dropped; the cover closes before the second is retried.
    if (levels.size() == 1) {
      response = OPOS_ER_CLEAR;
    } else {
      CloseCoverAndWait();
      response = OPOS_ER_RETRY;
    }
  };
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "dropped\n"), OPOS_SUCCESS);
  const int32_t dropped = printer.OutputID();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "kept\n"), OPOS_SUCCESS);
  const int32_t kept = printer.OutputID();
  ASSERT_TRUE(DeliverUntil(Saw("complete", kept)));
  EXPECT_EQ(Count("complete", dropped), 0u);
  ASSERT_EQ(Values("error"), (std::vector<int32_t>{OPOS_EPTR_COVER_OPEN, OPOS_EPTR_COVER_OPEN}));
  EXPECT_EQ(errorCodes, (std::vector<int32_t>{OPOS_E_EXTENDED, OPOS_E_EXTENDED}));
  EXPECT_EQ(levels, (std::vector<int32_t>{PTR_EL_RECOVERABLE, PTR_EL_RECOVERABLE}));
  EXPECT_EQ(stations, (std::vector<int32_t>{PTR_S_RECEIPT, PTR_S_RECEIPT}));
  EXPECT_EQ(states, (std::vector<int32_t>{OPOS_S_ERROR, OPOS_S_ERROR}));
  EXPECT_EQ(texts[0], "Printer cover is open.");
  // Nothing went out while the cover was open; after the retry the job whole.
  ASSERT_TRUE(vprinter_->WaitForBytes(kPrefix.size() + 5, std::chrono::seconds(5)));
  EXPECT_EQ(Printed(), kPrefix + "kept\n");
  EXPECT_EQ(printer.ErrorLevel(), PTR_EL_NONE);
}

TEST_F(AsyncReceipt, RetryWhileTheCoverStaysOpenWaitsForTheStatusMonitor) {
  Start();
  OpenCover();
  onError = [](int32_t& response) { response = OPOS_ER_RETRY; };
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "once\n"), OPOS_SUCCESS);
  const int32_t id = printer.OutputID();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DeliverUntil([] { return false; }, 1500));
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // At most one Error per monitor period (500 ms) and the first, not one per answer.
  const size_t errors = Count("error", OPOS_EPTR_COVER_OPEN);
  EXPECT_GE(errors, 1u);
  EXPECT_LE(errors, static_cast<size_t>(elapsed / 500 + 2));
  vprinter_->SetCoverOpen(false);
  ASSERT_TRUE(DeliverUntil(Saw("complete", id)));
  EXPECT_EQ(Printed(), kPrefix + "once\n");
  EXPECT_EQ(Count("complete", id), 1u);
}

TEST_F(AsyncReceipt, ClearOutputInsideTheErrorHandlerDropsTheWholeQueue) {
  Start();
  OpenCover();
  onError = [&](int32_t& response) {
    EXPECT_EQ(printer.ClearOutput(), OPOS_SUCCESS);
    response = OPOS_ER_RETRY;  // comes too late to matter
  };
  for (const char* line : {"a\n", "b\n", "c\n"})
    ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, line), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(Saw("error", OPOS_EPTR_COVER_OPEN)));
  vprinter_->SetCoverOpen(false);
  ASSERT_TRUE(DeliverUntil([this] { return !printer.CoverOpen(); }));
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "after\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(Saw("complete", printer.OutputID())));
  EXPECT_EQ(Values("complete").size(), 1u);  // none for the dropped jobs
  EXPECT_EQ(Count("error", OPOS_EPTR_COVER_OPEN), 1u);
  EXPECT_EQ(Printed(), kPrefix + "after\n");
}

TEST_F(AsyncReceipt, ClearOutputWhileTheErrorIsHeldByAFreezePurgesIt) {
  Start();
  OpenCover();
  printer.SetFreezeEvents(true);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "a\n"), OPOS_SUCCESS);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "b\n"), OPOS_SUCCESS);
  // The worker has met the error when it names the failing station.
  ASSERT_TRUE(DeliverUntil([this] { return printer.ErrorStation() == PTR_S_RECEIPT; }));
  EXPECT_EQ(printer.ClearOutput(), OPOS_SUCCESS);
  vprinter_->SetCoverOpen(false);
  printer.SetFreezeEvents(false);
  ASSERT_TRUE(DeliverUntil([this] { return !printer.CoverOpen(); }));
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "after\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(Saw("complete", printer.OutputID())));
  EXPECT_EQ(Values("error").size(), 0u);  // purged with the output it belonged to
  EXPECT_EQ(Values("complete").size(), 1u);
  EXPECT_EQ(Printed(), kPrefix + "after\n");
}

TEST_F(AsyncReceipt, TransactionCompletesOnce) {
  Start();
  ASSERT_EQ(printer.TransactionPrint(PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "first\n"), OPOS_SUCCESS);
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "second\n"), OPOS_SUCCESS);
  const int32_t before = printer.OutputID();
  ASSERT_EQ(printer.TransactionPrint(PTR_S_RECEIPT, PTR_TP_NORMAL), OPOS_SUCCESS);
  EXPECT_EQ(printer.OutputID(), before + 1);
  ASSERT_TRUE(DeliverUntil(Saw("complete", before + 1)));
  EXPECT_FALSE(DeliverUntil([this] { return Values("complete").size() > 1; }, 300));
  EXPECT_EQ(Printed(), kPrefix + "first\n" + kPrefix + "second\n" + std::string(1, '\0'));
  EXPECT_EQ(printer.TransactionPrint(PTR_S_RECEIPT, 13), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer.TransactionPrint(PTR_S_JOURNAL, PTR_TP_NORMAL), OPOS_E_ILLEGAL);
}

TEST_F(AsyncReceipt, AVanishedPrinterRaisesAnUnrecoverableError) {
  Start();
  vprinter_->Stop();
  onError = [&](int32_t& response) { response = OPOS_ER_CLEAR; };
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, std::string(5000, 'x')), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(Saw("error", 100003)));
  EXPECT_EQ(errorCodes[0], OPOS_E_FAILURE);
  EXPECT_TRUE(Values("complete").empty());
  // A release with the printer gone ends in bounded time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(12));
}

TEST_F(AsyncReceipt, ProcessIdModelCompletesAfterTheReply) {
  vprinter::PrinterConfig slow;
  slow.bytesPerSecond = 200;  // the reply waits until the job is printed
  Start("QMT-500", slow);
  uint32_t repliesAtCompletion = 0;
  onComplete = [&](int32_t) { repliesAtCompletion = vprinter_->Status().processIdReplies; };
  const std::string line(100, 'p');
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, line), OPOS_SUCCESS);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(DeliverUntil(Saw("complete", printer.OutputID())));
  // About half a second of printing had to pass first.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(repliesAtCompletion, 1u);
  EXPECT_EQ(Captured(), kPrefix + line + std::string("\x1d\x28\x48\x06\x00\x30\x30\x46\x46\x46\x46", 11));
}

TEST_F(AsyncReceipt, ProcessIdModelThatNeverAnswersEndsInAnError) {
  Start("QMT-500");
  vprinter_->SetPower(false);  // takes bytes silently, never replies
  onError = [&](int32_t& response) { response = OPOS_ER_CLEAR; };
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "lost\n"), OPOS_SUCCESS);
  ASSERT_TRUE(DeliverUntil(Saw("error", 100003), 45000));
  const auto took = std::chrono::steady_clock::now() - start;
  // The request went out three times, 10 s apart, before the job was given up.
  EXPECT_GE(took, std::chrono::seconds(29));
  EXPECT_LT(took, std::chrono::seconds(40));
  EXPECT_TRUE(Values("complete").empty());
}

}  // namespace
}  // namespace opos::receipt
