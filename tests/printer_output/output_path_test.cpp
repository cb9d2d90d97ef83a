// The output path against a recording port, for what the virtual printer
// cannot stage exactly: jobs of several records, answers that come late, the
// process-ID request that goes unanswered, failed transaction flushes and
// stored-bitmap escapes.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "printer/output_path.h"
#include "tests/printer_output/fakes.h"

namespace opos::test {
namespace {

using Settings = COutputPath::Settings;

class OutputPathTest : public ::testing::Test {
 protected:
  void Start(bool processIdModel = false) {
    Settings s;
    s.processIdModel = processIdModel;
    s.endOfJobWaitMs = 5;
    s.processIdRepeatMs = 150;
    s.processIdPollMs = 5;
    s.processIdSettleMs = 5;
    path_.Start(&port_, s);
  }
  void Async() { props_[PIDXPtr_AsyncMode] = 1; }
  COutputPath::Result Send(const std::string& bytes, bool continuation = false) {
    return path_.SendOutput(PTR_S_RECEIPT, bytes, continuation);
  }
  Raised WaitFor(int32_t kind, size_t from = 0) {
    Raised e{};
    EXPECT_TRUE(host_.WaitKind(kind, from, &e)) << "no event of kind " << kind;
    return e;
  }
  std::vector<int32_t> Completed() const { return host_.Data(SOE_OUTPUTCOMPLETE); }

  RecordingPort port_;
  RecordingHost host_;
  PrinterProperties props_{kSerialPrinter};
  StoredBitmaps bitmaps_;
  COutputPath path_{host_, props_, bitmaps_};
};

// Holds the first write of `data` until Open(), so the test can queue more
// while the worker is busy with it.
struct WriteGate {
  explicit WriteGate(RecordingPort& port, std::string data) : held(std::move(data)) {
    port.beforeWrite = [this](const std::string& d) {
      if (d != held || used.exchange(true)) return;
      entered.Set();
      open.Wait(5000);
    };
  }
  std::string held;
  std::atomic<bool> used{false};
  platform::Event entered, open;
};

TEST_F(OutputPathTest, AJobStartsOnlyWhenItsLastRecordIsQueued) {
  Async();
  WriteGate gate(port_, "J1");
  Start();
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  ASSERT_TRUE(gate.entered.Wait(5000));
  // Two pieces of the next job arrive while the first is being written.
  ASSERT_EQ(Send("A", true).code, OPOS_SUCCESS);
  ASSERT_EQ(Send("B", true).code, OPOS_SUCCESS);
  EXPECT_EQ(path_.OutputId(), 1);  // continued records take no ID
  gate.open.Set();
  WaitFor(SOE_OUTPUTCOMPLETE);
  // The incomplete job is neither sent early nor sent twice.
  EXPECT_FALSE(host_.WaitKind(SOE_OUTPUTCOMPLETE, 1, nullptr, 100));
  EXPECT_EQ(port_.Written(), "J1");
  EXPECT_TRUE(path_.Busy());
  ASSERT_EQ(Send("C").code, OPOS_SUCCESS);
  Raised done = WaitFor(SOE_OUTPUTCOMPLETE, 1);
  EXPECT_EQ(done.p1, 2);
  EXPECT_EQ(port_.Written(), "J1ABC");
  EXPECT_EQ(Completed(), (std::vector<int32_t>{1, 2}));
}

TEST_F(OutputPathTest, CoverOpenedDuringAJobRaisesErrorAndRetryResendsTheWholeJob) {
  Async();
  std::atomic<bool> openCoverOnLast{true};
  port_.beforeWrite = [&](const std::string& d) {
    if (d == "B" && openCoverOnLast.exchange(false)) port_.ready = OPOS_EPTR_COVER_OPEN;
  };
  Start();
  ASSERT_EQ(Send("A", true).code, OPOS_SUCCESS);
  ASSERT_EQ(Send("B").code, OPOS_SUCCESS);

  const Raised err = WaitFor(SOE_ERROR);
  EXPECT_EQ(err.p1, OPOS_E_EXTENDED);
  EXPECT_EQ(err.p2, OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(err.p3, OPOS_EL_OUTPUT);
  EXPECT_EQ(props_[PIDXPtr_ErrorLevel].load(), PTR_EL_RECOVERABLE);
  EXPECT_EQ(props_[PIDXPtr_ErrorStation].load(), PTR_S_RECEIPT);
  EXPECT_EQ(props_.ErrorString(), "Printer cover is open.");
  EXPECT_EQ(host_.resultCode.load(), OPOS_E_EXTENDED);
  EXPECT_EQ(host_.resultCodeExtended.load(), OPOS_EPTR_COVER_OPEN);
  EXPECT_TRUE(path_.ErrorPending());
  EXPECT_TRUE(Completed().empty());
  EXPECT_EQ(port_.Written(), "AB");

  port_.ready = 0;  // cover closed
  path_.AnswerError(err.errorSeq, OPOS_ER_RETRY);
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE).p1, 1);
  EXPECT_EQ(port_.Written(), "ABAB");
  EXPECT_EQ(props_[PIDXPtr_ErrorLevel].load(), PTR_EL_NONE);
  EXPECT_EQ(props_.ErrorString(), "");
  EXPECT_FALSE(path_.ErrorPending());
}

TEST_F(OutputPathTest, RetryWhileStillNotReadyRaisesTheErrorAgain) {
  Async();
  port_.ready = OPOS_EPTR_REC_EMPTY;
  Start();
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  const Raised first = WaitFor(SOE_ERROR);
  EXPECT_EQ(first.p2, OPOS_EPTR_REC_EMPTY);
  EXPECT_EQ(props_.ErrorString(), "Receipt station is out of paper.");
  path_.AnswerError(first.errorSeq, OPOS_ER_RETRY);
  const Raised second = WaitFor(SOE_ERROR, 1);
  EXPECT_NE(second.errorSeq, first.errorSeq);
  // A stale answer to the first error does not release the second.
  path_.AnswerError(first.errorSeq, OPOS_ER_CLEAR);
  EXPECT_FALSE(host_.WaitKind(SOE_ERROR, 2, nullptr, 50));
  port_.ready = 0;
  path_.AnswerError(second.errorSeq, OPOS_ER_RETRY);
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE).p1, 1);
  EXPECT_EQ(port_.Written(), "J1");
}

TEST_F(OutputPathTest, ClearOutputKeepsTheJobUnderWayAndDropsTheRest) {
  Async();
  WriteGate gate(port_, "J1");
  Start();
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  ASSERT_TRUE(gate.entered.Wait(5000));
  ASSERT_EQ(Send("J2").code, OPOS_SUCCESS);
  ASSERT_EQ(Send("J3").code, OPOS_SUCCESS);
  path_.ClearOutput();
  gate.open.Set();
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE).p1, 1);
  ASSERT_EQ(Send("J4").code, OPOS_SUCCESS);
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE, 1).p1, 4);
  EXPECT_EQ(Completed(), (std::vector<int32_t>{1, 4}));
  EXPECT_EQ(port_.Written(), "J1J4");
}

TEST_F(OutputPathTest, StopReleasesAWorkerWaitingForAnAnswer) {
  Async();
  port_.ready = OPOS_EPTR_COVER_OPEN;
  Start();
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  WaitFor(SOE_ERROR);
  const uint32_t start = platform::TickCount();
  path_.Stop();
  EXPECT_LT(platform::TickCount() - start, 1000u);
}

class ProcessIdTest : public OutputPathTest {
 protected:
  void SetUp() override {
    port_.beforeWrite = [this](const std::string& d) {
      if (d != COutputPath::kProcessIdRequest) return;
      requests_.fetch_add(1);
      requestSent_.Set();
      if (autoReply_.load()) path_.SetProcessIdSeen();
    };
  }
  std::atomic<int> requests_{0};
  std::atomic<bool> autoReply_{false};
  platform::Event requestSent_;
};

TEST_F(ProcessIdTest, AQuickReplyIsNotLost) {
  autoReply_ = true;
  Async();
  Start(true);
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  ASSERT_EQ(Send("J2").code, OPOS_SUCCESS);
  host_.WaitEvents(2);
  EXPECT_EQ(Completed(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(requests_.load(), 2);
}

TEST_F(ProcessIdTest, UnansweredRequestIsRepeatedThenReportedAsAFailure) {
  Async();
  Start(true);
  const uint32_t start = platform::TickCount();
  ASSERT_EQ(Send("J1").code, OPOS_SUCCESS);
  const Raised err = WaitFor(SOE_ERROR);
  // Three requests 150 ms apart, then the failure after the third interval.
  EXPECT_EQ(requests_.load(), 3);
  EXPECT_GE(platform::TickCount() - start, 3u * 150u);
  EXPECT_EQ(err.p1, OPOS_E_FAILURE);
  EXPECT_EQ(err.p2, 100003);
  path_.AnswerError(err.errorSeq, OPOS_ER_CLEAR);
  EXPECT_TRUE(Completed().empty());
  autoReply_ = true;
  ASSERT_EQ(Send("J2").code, OPOS_SUCCESS);
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE).p1, 2);
}

TEST_F(OutputPathTest, StoredBitmapEscapesAreResolvedWhenWritten) {
  Start();
  // An undefined slot's escape is removed, also behind a 0 byte.
  const std::string data = std::string("a\0", 2) + "\x1b|1Bb";
  ASSERT_EQ(Send(data).code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), std::string("a\0b", 3));

  port_.ClearWritten();
  StoredBitmaps::Slot slot;
  slot.download = "DL";
  slot.alignment = PTR_BM_LEFT;
  slot.fileName = "logo.bmp";
  slot.normalSize = true;
  bitmaps_.Define(1, slot, false);
  const std::string print1 = "\x1b\x61\x30\x1d\x2f\x30\x1b\x61\x30";
  ASSERT_EQ(Send("a\x1b|1Bb\x1b|2B").code, OPOS_SUCCESS);
  // Downloaded once, before the data; ESC|2B stays when ESC|1B is present.
  EXPECT_EQ(port_.Written(), "DLa" + print1 + "b\x1b|2B");
  EXPECT_TRUE(bitmaps_.InPrinter(1));

  port_.ClearWritten();
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), print1);

  // The printer lost its image: downloaded again; a failed download fails the output.
  bitmaps_.MarkLost();
  port_.ClearWritten();
  port_.failWrites = true;
  EXPECT_EQ(Send("\x1b|1B").code, OPOS_E_FAILURE);
  EXPECT_FALSE(bitmaps_.InPrinter(1));
  port_.failWrites = false;
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "DL" + print1);
}

TEST_F(ProcessIdTest, SynchronousTransactionWaitsForTheReplyAndKeepsItsRecordsOnFailure) {
  autoReply_ = true;
  Start(true);
  path_.BeginTransaction();
  ASSERT_EQ(Send("one").code, OPOS_SUCCESS);
  ASSERT_EQ(path_.FlushTransaction().code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "one" + std::string(COutputPath::kProcessIdRequest));
  EXPECT_FALSE(path_.ErrorPending());

  // The cover opens while the printer has not answered yet.
  autoReply_ = false;
  port_.ClearWritten();
  path_.BeginTransaction();
  ASSERT_EQ(Send("two").code, OPOS_SUCCESS);
  std::thread opener([&] {
    requestSent_.Wait(5000);
    port_.ready = OPOS_EPTR_COVER_OPEN;
  });
  const auto failed = path_.FlushTransaction();
  opener.join();
  EXPECT_EQ(failed.code, OPOS_E_EXTENDED);
  EXPECT_EQ(failed.extended, OPOS_EPTR_COVER_OPEN);
  EXPECT_TRUE(path_.ErrorPending());
  EXPECT_EQ(port_.bFastPoll.load(), 0);

  // Flushed again, the kept records go out again from the first one.
  port_.ready = 0;
  autoReply_ = true;
  port_.ClearWritten();
  ASSERT_EQ(path_.FlushTransaction().code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "two" + std::string(COutputPath::kProcessIdRequest));
  EXPECT_FALSE(path_.ErrorPending());
}

TEST_F(OutputPathTest, ClearedFailedTransactionIsDiscardedAndDoesNotClearALaterError) {
  Start();
  path_.BeginTransaction();
  ASSERT_EQ(Send("kept").code, OPOS_SUCCESS);
  port_.ready = OPOS_EPTR_REC_EMPTY;
  EXPECT_EQ(path_.FlushTransaction().code, OPOS_E_EXTENDED);
  port_.ready = 0;
  path_.ClearOutput();
  path_.BeginTransaction();  // discards the failed records
  ASSERT_EQ(path_.FlushTransaction().code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "");

  // A later asynchronous error answered with retry is retried, not cleared.
  Async();
  port_.ready = OPOS_EPTR_COVER_OPEN;
  ASSERT_EQ(Send("J").code, OPOS_SUCCESS);
  const Raised err = WaitFor(SOE_ERROR);
  port_.ready = 0;
  path_.AnswerError(err.errorSeq, OPOS_ER_RETRY);
  EXPECT_EQ(WaitFor(SOE_OUTPUTCOMPLETE).p1, 1);
  EXPECT_EQ(port_.Written(), "J");
}

}  // namespace
}  // namespace opos::test
