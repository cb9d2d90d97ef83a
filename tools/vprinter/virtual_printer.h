// A virtual ESC/POS receipt printer on a pseudo-terminal: one I/O thread reads what
// the host writes to the slave, feeds the printer model and writes its replies back.
// Every public method may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/vprinter/printer_model.h"
#include "tools/vprinter/pty_port.h"
#include "tools/vprinter/receipt_files.h"
#include "tools/vprinter/receipt_image.h"

namespace vprinter {

struct VirtualPrinterOptions {
  PrinterConfig printer;
  std::string linkPath;     // symbolic link to the slave; empty: none
  std::string capturePath;  // every received byte is appended here; empty: none
  std::string renderDir;    // each receipt is written here as a PNG at its cut; empty: none
  // "1" while powered, "0" while off, for the host's serial layer to read as
  // CTS (a pseudo-terminal has no modem lines); empty: none.
  std::string lineStatePath;
};

class VirtualPrinter {
 public:
  explicit VirtualPrinter(VirtualPrinterOptions options = {});
  ~VirtualPrinter();
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // Opens the pseudo-terminal, publishes the link, opens the capture file and starts
  // the I/O thread. False with a message in *error when any step fails.
  [[nodiscard]] bool Start(std::string* error = nullptr);
  // Stops the I/O thread, removes the link and closes the port. Idempotent.
  void Stop();

  std::string SlavePath() const;
  std::string LinkPath() const;

  void SetCoverOpen(bool open);
  void SetPaperEnd(bool end);
  void SetPower(bool on);
  void SetOnline(bool online);
  void OpenDrawer();
  void CloseDrawer();

  PrinterStatus Status() const;
  std::array<uint8_t, 4> AsbReport() const;
  uint32_t DrawerKicks() const;
  std::vector<uint8_t> Capture() const;
  std::vector<Command> Commands() const;
  void ClearCapture();  // the in-memory bytes and commands; the capture file keeps growing

  // The receipts printed since the capture was last cleared, the unfinished one last:
  // at most maxReceipts images, rendered from the recorded commands.
  std::vector<ReceiptImage> RenderReceipts(size_t maxReceipts = 1000) const;
  // The same receipts as dir/receipt-0001.png, ...; *count tells how many were written.
  [[nodiscard]] bool WriteReceipts(const std::string& dir, size_t* count, std::string* error) const;
  // With renderDir: receipt files written so far, and the first failure to write one.
  uint32_t ReceiptsWritten() const;
  std::string RenderError() const;

  // Waits until the in-memory capture holds at least count bytes.
  [[nodiscard]] bool WaitForBytes(size_t count, std::chrono::milliseconds timeout) const;
  // Waits until pred holds. pred runs under the printer's lock: it may only look at
  // the model it is given and must not call back into this object.
  using Predicate = std::function<bool(const PrinterModel&)>;
  [[nodiscard]] bool WaitUntil(const Predicate& pred, std::chrono::milliseconds timeout) const;

 private:
  void IoLoop();
  void PublishLineState(bool powered) const;
  void Wake() const;
  template <typename F>
  void Control(F change);

  VirtualPrinterOptions options_;
  PtyPort port_;
  int wakeFd_ = -1;
  int captureFd_ = -1;
  std::thread io_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  PrinterModel model_;       // guarded by mu_
  bool stopping_ = false;    // guarded by mu_
  std::string slavePath_;    // guarded by mu_
  std::string linkPath_;     // guarded by mu_
  uint64_t powerEpoch_ = 0;  // guarded by mu_; counts power changes for the receipt files
  // Fed by the I/O thread outside the lock, and by stop() once that thread has ended.
  std::unique_ptr<ReceiptFiles> receiptFiles_;
  uint64_t receiptFilesEpoch_ = 0;
  std::atomic<bool> running_{false};
};

}  // namespace vprinter
