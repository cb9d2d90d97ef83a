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
  std::string link_path;     // symbolic link to the slave; empty: none
  std::string capture_path;  // every received byte is appended here; empty: none
  std::string render_dir;    // each receipt is written here as a PNG at its cut; empty: none
  // "1" while powered, "0" while off, for the host's serial layer to read as
  // CTS (a pseudo-terminal has no modem lines); empty: none.
  std::string line_state_path;
};

class VirtualPrinter {
 public:
  explicit VirtualPrinter(VirtualPrinterOptions options = {});
  ~VirtualPrinter();
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // Opens the pseudo-terminal, publishes the link, opens the capture file and starts
  // the I/O thread. False with a message in *error when any step fails.
  [[nodiscard]] bool start(std::string* error = nullptr);
  // Stops the I/O thread, removes the link and closes the port. Idempotent.
  void stop();

  std::string slave_path() const;
  std::string link_path() const;

  void set_cover_open(bool open);
  void set_paper_end(bool end);
  void set_power(bool on);
  void set_online(bool online);
  void open_drawer();
  void close_drawer();

  PrinterStatus status() const;
  std::array<uint8_t, 4> asb_report() const;
  uint32_t drawer_kicks() const;
  std::vector<uint8_t> capture() const;
  std::vector<Command> commands() const;
  void clear_capture();  // the in-memory bytes and commands; the capture file keeps growing

  // The receipts printed since the capture was last cleared, the unfinished one last:
  // at most max_receipts images, rendered from the recorded commands.
  std::vector<ReceiptImage> render_receipts(size_t max_receipts = 1000) const;
  // The same receipts as dir/receipt-0001.png, ...; *count tells how many were written.
  [[nodiscard]] bool write_receipts(const std::string& dir, size_t* count, std::string* error) const;
  // With render_dir: receipt files written so far, and the first failure to write one.
  uint32_t receipts_written() const;
  std::string render_error() const;

  // Waits until the in-memory capture holds at least count bytes.
  [[nodiscard]] bool wait_for_bytes(size_t count, std::chrono::milliseconds timeout) const;
  // Waits until pred holds. pred runs under the printer's lock: it may only look at
  // the model it is given and must not call back into this object.
  using Predicate = std::function<bool(const PrinterModel&)>;
  [[nodiscard]] bool wait_until(const Predicate& pred, std::chrono::milliseconds timeout) const;

 private:
  void io_loop();
  void publish_line_state(bool powered) const;
  void wake() const;
  template <typename F>
  void control(F change);

  VirtualPrinterOptions options_;
  PtyPort port_;
  int wake_fd_ = -1;
  int capture_fd_ = -1;
  std::thread io_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  PrinterModel model_;        // guarded by mu_
  bool stopping_ = false;     // guarded by mu_
  std::string slave_path_;    // guarded by mu_
  std::string link_path_;     // guarded by mu_
  uint64_t power_epoch_ = 0;  // guarded by mu_; counts power changes for the receipt files
  // Fed by the I/O thread outside the lock, and by stop() once that thread has ended.
  std::unique_ptr<ReceiptFiles> receipt_files_;
  uint64_t receipt_files_epoch_ = 0;
  std::atomic<bool> running_{false};
};

}  // namespace vprinter
