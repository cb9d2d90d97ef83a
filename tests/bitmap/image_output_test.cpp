// Bitmap images on the output path against a recording port: define blocks
// pass untouched and replace the printer's image when they are written, and
// SetBitmap's download goes out at once and keeps the slot's flag honest.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "printer/output_path.h"

namespace opos::test {
namespace {

// Records what is written; CheckReady answers as the test sets it.
class RecordingPort : public CPortObject {
 public:
  int Open(const DeviceConfig&) override { return 1; }
  int32_t StartMonitor(uint32_t) override { return 0; }
  int Write(const uint8_t* bytes, size_t n) override {
    if (failWrites.load()) return 0;
    std::lock_guard<std::mutex> g(lock_);
    written_.append(reinterpret_cast<const char*>(bytes), n);
    return 1;
  }
  int Read(uint8_t*, size_t) override { return 0; }
  int32_t CheckReady() override { return ready.load(); }
  void Close() override {}

  std::string Written() const {
    std::lock_guard<std::mutex> g(lock_);
    return written_;
  }

  std::atomic<int32_t> ready{0};
  std::atomic<bool> failWrites{false};

 private:
  mutable std::mutex lock_;
  std::string written_;
};

// Counts OutputComplete events; the rest of the host does nothing.
class CompletionHost final : public COutputPath::Host {
 public:
  bool IsClaimed() const override { return claimed.load(); }
  void SetState(int32_t) override {}
  bool EventsFrozen() const override { return false; }
  void BeginEventPurge() override {}
  void SetResultCodes(int32_t, int32_t) override {}
  void RaiseEvent(std::unique_ptr<CSOEvent> r) override {
    std::lock_guard<std::mutex> g(lock_);
    if (r->kind == SOE_OUTPUTCOMPLETE) ++completed_;
    changed_.notify_all();
  }
  bool WaitCompleted(int n) {
    std::unique_lock<std::mutex> g(lock_);
    return changed_.wait_for(g, std::chrono::seconds(5), [&] { return completed_ >= n; });
  }

  std::atomic<bool> claimed{true};

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int completed_ = 0;
};

const std::string kPrintSlotLeft = "\x1b\x61\x30\x1d\x2f\x30\x1b\x61\x30";

class ImageOutput : public ::testing::Test {
 protected:
  void Start() {
    COutputPath::Settings s;
    s.endOfJobWaitMs = 5;
    path_.Start(&port_, s);
  }
  static StoredBitmaps::Slot Slot(const std::string& download) {
    StoredBitmaps::Slot slot;
    slot.download = download;
    slot.alignment = PTR_BM_LEFT;
    slot.fileName = "logo.bmp";
    slot.normalSize = true;
    return slot;
  }
  COutputPath::Result Send(const std::string& bytes, bool continuation = false, bool image = false) {
    return path_.SendOutput(PTR_S_RECEIPT, bytes, continuation, image);
  }
  void WaitCompleted(int n) { ASSERT_TRUE(host_.WaitCompleted(n)); }

  RecordingPort port_;
  CompletionHost host_;
  PrinterProperties props_{kSerialPrinter};
  StoredBitmaps bitmaps_;
  COutputPath path_{host_, props_, bitmaps_};
};

TEST_F(ImageOutput, DefineBlocksAreNeverSearchedForEscapes) {
  Start();
  bitmaps_.Define(1, Slot("DL"), false);
  bitmaps_.Define(2, Slot("D2"), true);
  // Pixel bytes that happen to spell ESC|1B, behind a 0 byte and before one.
  const std::string block = std::string("\x1d\x2a\x01\x01\x00\x1b|1B\x00\x00\x00", 12);
  ASSERT_EQ(Send(block, true, true).code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), block);
  EXPECT_FALSE(bitmaps_.InPrinter(1));
  EXPECT_FALSE(bitmaps_.InPrinter(2)) << "the define block took the printer's image";
}

TEST_F(ImageOutput, QueuedDefineBlockCountsFromItsWriteNotItsCall) {
  props_[PIDXPtr_AsyncMode] = 1;
  bitmaps_.Define(1, Slot("DL"), false);
  Start();
  // Job 1 downloads slot 1; job 2 (a PrintBitmap) overwrites it; job 3 must
  // download it again even though job 1 set the flag after job 2 was queued.
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  ASSERT_EQ(Send("IMG", true, true).code, OPOS_SUCCESS);
  ASSERT_EQ(Send("P").code, OPOS_SUCCESS);
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  WaitCompleted(3);
  EXPECT_EQ(port_.Written(), "DL" + kPrintSlotLeft + "IMGP" + "DL" + kPrintSlotLeft);
  EXPECT_TRUE(bitmaps_.InPrinter(1));
}

TEST_F(ImageOutput, DownloadGoesOutAtOnceEvenInAsynchronousMode) {
  props_[PIDXPtr_AsyncMode] = 1;
  Start();
  bitmaps_.Define(1, Slot("D1"), true);
  const COutputPath::Result r = path_.DownloadBitmap(2, Slot("D2"));
  EXPECT_EQ(r.code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "D2") << "written before the call returned";
  EXPECT_EQ(path_.OutputId(), 0) << "no job, no OutputComplete";
  EXPECT_TRUE(bitmaps_.InPrinter(2));
  EXPECT_FALSE(bitmaps_.InPrinter(1));

  ASSERT_EQ(Send("\x1b|2B").code, OPOS_SUCCESS);
  WaitCompleted(1);
  EXPECT_EQ(port_.Written(), "D2" + kPrintSlotLeft) << "not downloaded twice";
}

TEST_F(ImageOutput, DownloadThatCannotGoOutKeepsTheSlotForLater) {
  Start();
  port_.ready = OPOS_EPTR_COVER_OPEN;
  COutputPath::Result r = path_.DownloadBitmap(1, Slot("DL"));
  EXPECT_EQ(r.code, OPOS_E_EXTENDED);
  EXPECT_EQ(r.extended, OPOS_EPTR_COVER_OPEN);
  EXPECT_EQ(port_.Written(), "");
  EXPECT_FALSE(bitmaps_.InPrinter(1));

  port_.ready = 0;
  port_.failWrites = true;
  r = path_.DownloadBitmap(1, Slot("DL"));
  EXPECT_EQ(r.code, OPOS_E_FAILURE);
  EXPECT_EQ(r.extended, 100003);
  EXPECT_FALSE(bitmaps_.InPrinter(1));

  port_.failWrites = false;
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "DL" + kPrintSlotLeft) << "defined all the same, downloaded on first use";
}

TEST_F(ImageOutput, DownloadInsideATransactionWaitsForTheFlush) {
  Start();
  path_.BeginTransaction();
  ASSERT_EQ(path_.DownloadBitmap(1, Slot("DL")).code, OPOS_SUCCESS);
  ASSERT_EQ(Send("\x1b|1B").code, OPOS_SUCCESS);
  EXPECT_EQ(port_.Written(), "");
  EXPECT_FALSE(bitmaps_.InPrinter(1)) << "not in the printer before the flush";
  ASSERT_EQ(path_.FlushTransaction().code, OPOS_SUCCESS);
  // The held define block goes first; the escape then downloads the slot
  // again rather than trust a flag set for bytes not yet written.
  EXPECT_EQ(port_.Written(), "DLDL" + kPrintSlotLeft);
  EXPECT_TRUE(bitmaps_.InPrinter(1));
}

TEST_F(ImageOutput, DownloadNeedsAClaim) {
  Start();
  host_.claimed = false;
  EXPECT_EQ(path_.DownloadBitmap(1, Slot("DL")).code, OPOS_E_NOTCLAIMED);
  EXPECT_EQ(port_.Written(), "");
}

}  // namespace
}  // namespace opos::test
