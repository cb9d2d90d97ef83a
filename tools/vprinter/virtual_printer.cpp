#include "tools/vprinter/virtual_printer.h"

#include "tools/vprinter/receipt_renderer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vprinter {

namespace {

using Clock = PrinterModel::Clock;

bool write_all(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

int poll_timeout_ms(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Round up: waking a little late is harmless, waking early would spin until the deadline.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > 1000000 ? 1000000 : static_cast<int>(ms);
}

}  // namespace

VirtualPrinter::VirtualPrinter(VirtualPrinterOptions options)
    : options_(std::move(options)), model_(options_.printer, Clock::now()) {
  // Lives as long as the object, so a control call racing with stop() never writes
  // to a closed descriptor.
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!options_.render_dir.empty()) receipt_files_ = std::make_unique<ReceiptFiles>(options_.render_dir);
}

VirtualPrinter::~VirtualPrinter() {
  stop();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool VirtualPrinter::start(std::string* error) {
  if (running_.load()) {
    if (error) *error = "already running";
    return false;
  }
  if (wake_fd_ < 0) {
    if (error) *error = "eventfd could not be created";
    return false;
  }
  if (receipt_files_ && !ReceiptFiles::prepare_dir(options_.render_dir, error)) return false;
  if (!port_.open(error)) return false;
  if (!options_.link_path.empty() && !port_.publish_link(options_.link_path, error)) {
    port_.close();
    return false;
  }
  if (!options_.capture_path.empty()) {
    capture_fd_ = ::open(options_.capture_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (capture_fd_ < 0) {
      if (error) *error = "open " + options_.capture_path + ": " + std::strerror(errno);
      port_.close();
      return false;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    publish_line_state(model_.status().powered);
    stopping_ = false;
    slave_path_ = port_.slave_path();
    link_path_ = port_.link_path();
  }
  running_.store(true);
  io_ = std::thread([this] { io_loop(); });
  return true;
}

void VirtualPrinter::stop() {
  if (!running_.exchange(false)) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake();
  io_.join();
  // The I/O thread has ended: the receipt still in the printer is this thread's to write.
  if (receipt_files_) receipt_files_->finish();
  if (capture_fd_ >= 0) ::close(capture_fd_);
  capture_fd_ = -1;
  port_.close();
  {
    std::lock_guard<std::mutex> lock(mu_);
    slave_path_.clear();
    link_path_.clear();
  }
  changed_.notify_all();
}

std::string VirtualPrinter::slave_path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return slave_path_;
}

std::string VirtualPrinter::link_path() const {
  std::lock_guard<std::mutex> lock(mu_);
  return link_path_;
}

void VirtualPrinter::wake() const {
  if (wake_fd_ < 0) return;
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

template <typename F>
void VirtualPrinter::control(F change) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    change(model_, Clock::now());
  }
  changed_.notify_all();
  // The I/O thread sends any reply and re-plans its timers.
  wake();
}

void VirtualPrinter::set_cover_open(bool open) {
  control([open](PrinterModel& m, Clock::time_point now) { m.set_cover_open(open, now); });
}
void VirtualPrinter::set_paper_end(bool end) {
  control([end](PrinterModel& m, Clock::time_point now) { m.set_paper_end(end, now); });
}
void VirtualPrinter::set_power(bool on) {
  control([this, on](PrinterModel& m, Clock::time_point now) {
    if (m.status().powered != on) ++power_epoch_;
    m.set_power(on, now);
    publish_line_state(on);
  });
}
void VirtualPrinter::publish_line_state(bool powered) const {
  if (options_.line_state_path.empty()) return;
  // Replaced whole, so a reader never sees a half-written file.
  const std::string tmp = options_.line_state_path + ".new";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool ok = ::write(fd, powered ? "1\n" : "0\n", 2) == 2;
  ::close(fd);
  if (ok) (void)::rename(tmp.c_str(), options_.line_state_path.c_str());
}

void VirtualPrinter::set_online(bool online) {
  control([online](PrinterModel& m, Clock::time_point now) { m.set_online(online, now); });
}
void VirtualPrinter::open_drawer() {
  control([](PrinterModel& m, Clock::time_point now) { m.open_drawer(now); });
}
void VirtualPrinter::close_drawer() {
  control([](PrinterModel& m, Clock::time_point now) { m.close_drawer(now); });
}
void VirtualPrinter::clear_capture() {
  control([](PrinterModel& m, Clock::time_point) { m.clear_capture(); });
}

PrinterStatus VirtualPrinter::status() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.status();
}

std::array<uint8_t, 4> VirtualPrinter::asb_report() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.asb_report();
}

uint32_t VirtualPrinter::drawer_kicks() const {
  return status().drawer_kicks;
}

std::vector<uint8_t> VirtualPrinter::capture() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.capture();
}

std::vector<Command> VirtualPrinter::commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.commands();
}

std::vector<ReceiptImage> VirtualPrinter::render_receipts(size_t max_receipts) const {
  const std::vector<Command> list = commands();
  return vprinter::render_receipts(list, max_receipts);
}

bool VirtualPrinter::write_receipts(const std::string& dir, size_t* count, std::string* error) const {
  if (count) *count = 0;
  if (!ReceiptFiles::prepare_dir(dir, error)) return false;
  const std::vector<Command> list = commands();
  size_t index = 0;
  bool ok = true;
  // Written one at a time, so that only one receipt is held in memory.
  ReceiptRenderer renderer([&](ReceiptImage&& image) {
    if (!ok) return;
    ok = write_png_file(image, dir + "/" + receipt_file_name(++index), error);
    if (ok && count) *count = index;
  });
  for (const Command& c : list) {
    if (!ok) break;
    renderer.add(c);
  }
  if (ok) renderer.finish();
  return ok;
}

uint32_t VirtualPrinter::receipts_written() const {
  return receipt_files_ ? receipt_files_->written() : 0;
}

std::string VirtualPrinter::render_error() const {
  return receipt_files_ ? receipt_files_->error() : std::string();
}

bool VirtualPrinter::wait_for_bytes(size_t count, std::chrono::milliseconds timeout) const {
  return wait_until([count](const PrinterModel& m) { return m.capture().size() >= count; }, timeout);
}

bool VirtualPrinter::wait_until(const Predicate& pred, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return pred(model_); });
}

void VirtualPrinter::io_loop() {
  const int master = port_.master_fd();
  bool master_usable = true;
  std::vector<uint8_t> out;  // replies the pseudo-terminal has not taken yet
  uint8_t buf[4096];
  for (;;) {
    std::optional<Clock::time_point> deadline;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      // Replies queue in the model while the host does not read; it bounds them.
      if (out.empty()) out = model_.take_replies();
      deadline = model_.next_deadline();
    }
    pollfd fds[2] = {};
    fds[0].fd = master_usable ? master : -1;
    fds[0].events = static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT));
    fds[1].fd = wake_fd_;
    fds[1].events = POLLIN;
    const int ready = ::poll(fds, 2, poll_timeout_ms(deadline));
    if (ready < 0 && errno != EINTR) return;

    if (ready > 0 && (fds[1].revents & POLLIN)) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        bool accepted = false;
        uint64_t epoch = 0;
        {
          std::lock_guard<std::mutex> lock(mu_);
          accepted = model_.receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)), Clock::now());
          // Written under the lock, so whoever sees the bytes in memory finds them in the file.
          if (accepted && capture_fd_ >= 0) write_all(capture_fd_, buf, static_cast<size_t>(n));
          epoch = power_epoch_;
        }
        // Drawing and PNG files take their time; the printer does not wait for them.
        if (receipt_files_ && accepted) {
          if (epoch != receipt_files_epoch_) {
            receipt_files_->power_cycle();
            receipt_files_epoch_ = epoch;
          }
          receipt_files_->feed(std::span<const uint8_t>(buf, static_cast<size_t>(n)));
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // Cannot happen while the port holds its own slave descriptor; should it
        // happen anyway, stop watching the master rather than spin on it.
        master_usable = false;
      }
    }
    if (!out.empty() && ready > 0 && (fds[0].revents & POLLOUT)) {
      const ssize_t w = ::write(master, out.data(), out.size());
      if (w > 0) out.erase(out.begin(), out.begin() + w);
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      model_.advance(Clock::now());
    }
    changed_.notify_all();
  }
}

}  // namespace vprinter
