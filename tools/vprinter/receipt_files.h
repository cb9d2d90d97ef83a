// Receipt images written as the bytes arrive: the stream is parsed and rendered on the
// fly, and each receipt becomes DIR/receipt-0001.png, receipt-0002.png, ... at its cut.
// feed, power_cycle and finish are called by one thread at a time; written() and
// error() may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "tools/vprinter/escpos_parser.h"
#include "tools/vprinter/receipt_renderer.h"

namespace vprinter {

class ReceiptFiles {
 public:
  explicit ReceiptFiles(std::string dir, int maxHeight = ReceiptRenderer::kDefaultMaxHeight);
  ReceiptFiles(const ReceiptFiles&) = delete;
  ReceiptFiles& operator=(const ReceiptFiles&) = delete;

  // Makes dir when it is missing. False with a message when it is not a usable folder.
  [[nodiscard]] static bool PrepareDir(const std::string& dir, std::string* error);

  void Feed(std::span<const uint8_t> bytes);
  // The printer lost power: a command cut short and the modes are gone.
  void PowerCycle();
  // Writes the receipt still in the printer, when anything is on it.
  void Finish();

  uint32_t Written() const { return written_.load(std::memory_order_acquire); }
  // The first failure to write a file; empty when none.
  std::string Error() const;

 private:
  void Write(ReceiptImage&& image);

  std::string dir_;
  ReceiptRenderer renderer_;
  EscPosParser parser_;
  size_t nextIndex_ = 1;
  std::atomic<uint32_t> written_{0};
  mutable std::mutex errorMu_;
  std::string error_;  // guarded by error_mu_
};

}  // namespace vprinter
