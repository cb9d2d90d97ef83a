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

bool WriteAll(int fd, const uint8_t* p, size_t n) {
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

int PollTimeoutMs(const std::optional<Clock::time_point>& deadline) {
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
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (!options_.renderDir.empty()) receiptFiles_ = std::make_unique<ReceiptFiles>(options_.renderDir);
}

VirtualPrinter::~VirtualPrinter() {
  Stop();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool VirtualPrinter::Start(std::string* error) {
  if (running_.load()) {
    if (error) *error = "already running";
    return false;
  }
  if (wakeFd_ < 0) {
    if (error) *error = "eventfd could not be created";
    return false;
  }
  if (receiptFiles_ && !ReceiptFiles::PrepareDir(options_.renderDir, error)) return false;
  if (!port_.Open(error)) return false;
  if (!options_.linkPath.empty() && !port_.PublishLink(options_.linkPath, error)) {
    port_.Close();
    return false;
  }
  if (!options_.capturePath.empty()) {
    captureFd_ = ::open(options_.capturePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (captureFd_ < 0) {
      if (error) *error = "open " + options_.capturePath + ": " + std::strerror(errno);
      port_.Close();
      return false;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    PublishLineState(model_.Status().powered);
    stopping_ = false;
    slavePath_ = port_.SlavePath();
    linkPath_ = port_.LinkPath();
  }
  running_.store(true);
  io_ = std::thread([this] { IoLoop(); });
  return true;
}

void VirtualPrinter::Stop() {
  if (!running_.exchange(false)) return;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  Wake();
  io_.join();
  // The I/O thread has ended: the receipt still in the printer is this thread's to write.
  if (receiptFiles_) receiptFiles_->Finish();
  if (captureFd_ >= 0) ::close(captureFd_);
  captureFd_ = -1;
  port_.Close();
  {
    std::lock_guard<std::mutex> lock(mu_);
    slavePath_.clear();
    linkPath_.clear();
  }
  changed_.notify_all();
}

std::string VirtualPrinter::SlavePath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return slavePath_;
}

std::string VirtualPrinter::LinkPath() const {
  std::lock_guard<std::mutex> lock(mu_);
  return linkPath_;
}

void VirtualPrinter::Wake() const {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong here.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

template <typename F>
void VirtualPrinter::Control(F change) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    change(model_, Clock::now());
  }
  changed_.notify_all();
  // The I/O thread sends any reply and re-plans its timers.
  Wake();
}

void VirtualPrinter::SetCoverOpen(bool open) {
  Control([open](PrinterModel& m, Clock::time_point now) { m.SetCoverOpen(open, now); });
}
void VirtualPrinter::SetPaperEnd(bool end) {
  Control([end](PrinterModel& m, Clock::time_point now) { m.SetPaperEnd(end, now); });
}
void VirtualPrinter::SetPower(bool on) {
  Control([this, on](PrinterModel& m, Clock::time_point now) {
    if (m.Status().powered != on) ++powerEpoch_;
    m.SetPower(on, now);
    PublishLineState(on);
  });
}
void VirtualPrinter::PublishLineState(bool powered) const {
  if (options_.lineStatePath.empty()) return;
  // Replaced whole, so a reader never sees a half-written file.
  const std::string tmp = options_.lineStatePath + ".new";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool ok = ::write(fd, powered ? "1\n" : "0\n", 2) == 2;
  ::close(fd);
  if (ok) (void)::rename(tmp.c_str(), options_.lineStatePath.c_str());
}

void VirtualPrinter::SetOnline(bool online) {
  Control([online](PrinterModel& m, Clock::time_point now) { m.SetOnline(online, now); });
}
void VirtualPrinter::OpenDrawer() {
  Control([](PrinterModel& m, Clock::time_point now) { m.OpenDrawer(now); });
}
void VirtualPrinter::CloseDrawer() {
  Control([](PrinterModel& m, Clock::time_point now) { m.CloseDrawer(now); });
}
void VirtualPrinter::ClearCapture() {
  Control([](PrinterModel& m, Clock::time_point) { m.ClearCapture(); });
}

PrinterStatus VirtualPrinter::Status() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Status();
}

std::array<uint8_t, 4> VirtualPrinter::AsbReport() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.AsbReport();
}

uint32_t VirtualPrinter::DrawerKicks() const {
  return Status().drawerKicks;
}

std::vector<uint8_t> VirtualPrinter::Capture() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Capture();
}

std::vector<Command> VirtualPrinter::Commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return model_.Commands();
}

std::vector<ReceiptImage> VirtualPrinter::RenderReceipts(size_t maxReceipts) const {
  const std::vector<Command> list = Commands();
  return vprinter::RenderReceipts(list, maxReceipts);
}

bool VirtualPrinter::WriteReceipts(const std::string& dir, size_t* count, std::string* error) const {
  if (count) *count = 0;
  if (!ReceiptFiles::PrepareDir(dir, error)) return false;
  const std::vector<Command> list = Commands();
  size_t index = 0;
  bool ok = true;
  // Written one at a time, so that only one receipt is held in memory.
  ReceiptRenderer renderer([&](ReceiptImage&& image) {
    if (!ok) return;
    ok = WritePngFile(image, dir + "/" + ReceiptFileName(++index), error);
    if (ok && count) *count = index;
  });
  for (const Command& c : list) {
    if (!ok) break;
    renderer.Add(c);
  }
  if (ok) renderer.Finish();
  return ok;
}

uint32_t VirtualPrinter::ReceiptsWritten() const {
  return receiptFiles_ ? receiptFiles_->Written() : 0;
}

std::string VirtualPrinter::RenderError() const {
  return receiptFiles_ ? receiptFiles_->Error() : std::string();
}

bool VirtualPrinter::WaitForBytes(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([count](const PrinterModel& m) { return m.Capture().size() >= count; }, timeout);
}

bool VirtualPrinter::WaitUntil(const Predicate& pred, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return pred(model_); });
}

void VirtualPrinter::IoLoop() {
  const int master = port_.MasterFd();
  bool masterUsable = true;
  std::vector<uint8_t> out;  // replies the pseudo-terminal has not taken yet
  uint8_t buf[4096];
  for (;;) {
    std::optional<Clock::time_point> deadline;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_) return;
      // Replies queue in the model while the host does not read; it bounds them.
      if (out.empty()) out = model_.TakeReplies();
      deadline = model_.NextDeadline();
    }
    pollfd fds[2] = {};
    fds[0].fd = masterUsable ? master : -1;
    fds[0].events = static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT));
    fds[1].fd = wakeFd_;
    fds[1].events = POLLIN;
    const int ready = ::poll(fds, 2, PollTimeoutMs(deadline));
    if (ready < 0 && errno != EINTR) return;

    if (ready > 0 && (fds[1].revents & POLLIN)) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0) {
        bool accepted = false;
        uint64_t epoch = 0;
        {
          std::lock_guard<std::mutex> lock(mu_);
          accepted = model_.Receive(std::span<const uint8_t>(buf, static_cast<size_t>(n)), Clock::now());
          // Written under the lock, so whoever sees the bytes in memory finds them in the file.
          if (accepted && captureFd_ >= 0) WriteAll(captureFd_, buf, static_cast<size_t>(n));
          epoch = powerEpoch_;
        }
        // Drawing and PNG files take their time; the printer does not wait for them.
        if (receiptFiles_ && accepted) {
          if (epoch != receiptFilesEpoch_) {
            receiptFiles_->PowerCycle();
            receiptFilesEpoch_ = epoch;
          }
          receiptFiles_->Feed(std::span<const uint8_t>(buf, static_cast<size_t>(n)));
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        // Cannot happen while the port holds its own slave descriptor; should it
        // happen anyway, stop watching the master rather than spin on it.
        masterUsable = false;
      }
    }
    if (!out.empty() && ready > 0 && (fds[0].revents & POLLOUT)) {
      const ssize_t w = ::write(master, out.data(), out.size());
      if (w > 0) out.erase(out.begin(), out.begin() + w);
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      model_.Advance(Clock::now());
    }
    changed_.notify_all();
  }
}

}  // namespace vprinter
