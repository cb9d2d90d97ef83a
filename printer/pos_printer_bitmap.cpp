// PrintBitmap and SetBitmap of CPOSPrinter: a bitmap file converted to the
// printer's downloaded bit image, printed at once or kept in a slot for
// ESC|1B / ESC|2B.
#include <cstdio>

#include "printer/bitmap_image.h"
#include "printer/pos_printer.h"

namespace opos {

int32_t CPOSPrinter::PrintBitmap(int32_t station, const std::string& fileName, int32_t width,
                                 int32_t alignment) {
  resultCodeExtended_ = 0;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (!claimed_.load()) return OPOS_E_NOTCLAIMED;
  if (station != PTR_S_RECEIPT) return SetResult(OPOS_E_ILLEGAL);
  const DownloadImage image = BuildDownloadImage(fileName, width, BitmapSnapshot(), OPOS_E_ILLEGAL);
  if (image.result != OPOS_SUCCESS) {
    resultCodeExtended_ = image.extended;
    return SetResult(image.result);
  }
  // The printer holds one downloaded image and this one takes its place.
  bitmaps_.MarkLost();
  if (printerProfile_.bitmap->consoleTrace) TraceOrConsole(kPrintBitmapTrace);
  // Define and print form one job in asynchronous mode.
  if (const int32_t rc = SendOutput(PTR_S_RECEIPT, image.block, true, true); rc != OPOS_SUCCESS) return rc;
  return SendOutput(PTR_S_RECEIPT, PrintBitmapCommand(alignment, image.normalSize), false);
}

int32_t CPOSPrinter::SetBitmap(int32_t bitmapNumber, int32_t station, const std::string& fileName,
                               int32_t width, int32_t alignment) {
  resultCodeExtended_ = 0;
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  if (!claimed_.load()) return OPOS_E_NOTCLAIMED;
  if (station != PTR_S_RECEIPT) return SetResult(OPOS_E_ILLEGAL);
  DownloadImage image =
      BuildDownloadImage(fileName, width, BitmapSnapshot(), printerProfile_.bitmap->setBitmapReadFailure);
  if (image.result != OPOS_SUCCESS) {
    resultCodeExtended_ = image.extended;
    return SetResult(image.result);
  }
  if (bitmapNumber != 1 && bitmapNumber != 2) return SetResult(OPOS_E_ILLEGAL);
  if (printerProfile_.bitmap->consoleTrace) TraceOrConsole(kSetBitmapTrace);
  StoredBitmaps::Slot slot;
  slot.download = std::move(image.block);
  slot.alignment = alignment;
  slot.fileName = fileName;
  slot.normalSize = image.normalSize;
  // Written before the call returns, whatever AsyncMode says.
  const COutputPath::Result r = output_.DownloadBitmap(bitmapNumber, std::move(slot));
  resultCodeExtended_ = r.extended;
  return SetResult(r.code);
}

BitmapSettings CPOSPrinter::BitmapSnapshot() const {
  BitmapSettings s;
  s.MapMode = props_[PIDXPtr_MapMode].load();
  s.RecLineWidth = props_[PIDXPtr_RecLineWidth].load();
  s.RecLetterQuality = props_[PIDXPtr_RecLetterQuality].load();
  return s;
}

}  // namespace opos
