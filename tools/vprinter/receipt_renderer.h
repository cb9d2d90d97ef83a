// Draws what the virtual printer printed, one image per receipt: walks the parsed
// command list the way the print engine would put dots on 80 mm paper and hands each
// receipt over at its cut.
//
// Geometry: the paper is 576 dots wide (72 mm at 8 dots/mm); the print area starts
// 32 dots in and is 512 dots wide at power-on, so 42 columns of the 12 x 24 font A or
// 56 of the 9 x 17 font B fit. Vertical motion commands (ESC 3, ESC J, GS V feeds)
// count half dots, as the service's line spacing assumes. Everything the renderer
// does not model is skipped; bad or truncated parameters never read past the data.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "tools/vprinter/escpos_command.h"
#include "tools/vprinter/receipt_image.h"

namespace vprinter {

class ReceiptRenderer {
 public:
  static constexpr int kPaperWidth = 576;
  static constexpr int kPrintOrigin = 32;
  static constexpr int kPrintWidth = 512;
  static constexpr int kDefaultMaxHeight = 20000;
  static constexpr int kMinMaxHeight = 64;

  using Sink = std::function<void(ReceiptImage&&)>;

  // max_height bounds each receipt (raised to kMinMaxHeight); a longer one is cut off
  // there and says so at its foot.
  explicit ReceiptRenderer(Sink sink, int maxHeight = kDefaultMaxHeight);
  ~ReceiptRenderer();
  ReceiptRenderer(const ReceiptRenderer&) = delete;
  ReceiptRenderer& operator=(const ReceiptRenderer&) = delete;

  // Takes the next command of the stream; a cut hands the finished receipt to the sink.
  void Add(const Command& cmd);
  // Hands over the receipt still in the printer, text not yet ended by a line feed
  // included, when anything is on it.
  void Finish();
  // The printer lost power: unprinted data and every mode are gone; the paper stays.
  void PowerCycle();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Renders a whole command list: the first maxReceipts receipts, the unfinished one last.
std::vector<ReceiptImage> RenderReceipts(std::span<const Command> commands, size_t maxReceipts = 1000,
                                         int maxHeight = ReceiptRenderer::kDefaultMaxHeight);

}  // namespace vprinter
