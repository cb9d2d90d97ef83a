// Bitmap images on the output path against a recording port: define blocks
// pass untouched and replace the printer's image when they are written, and
// SetBitmap's download goes out at once and keeps the slot's flag honest.
#include <string>

#include <gtest/gtest.h>

#include "printer/output_path.h"
#include "tests/printer_output/fakes.h"

namespace opos::test {
namespace {

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
  void WaitCompleted(size_t n) {
    const auto events = host_.WaitEvents(n);
    ASSERT_GE(events.size(), n);
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(events[i].kind, SOE_OUTPUTCOMPLETE);
  }

  RecordingPort port_;
  RecordingHost host_;
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
