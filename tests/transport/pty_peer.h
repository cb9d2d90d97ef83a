// Test side of a port: a pseudo-terminal whose master end plays the printer.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/port_object.h"
#include "platform/sync_event.h"

namespace opos::test {

using Bytes = std::vector<uint8_t>;

inline uint32_t NowMs() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// For cells that carry no signal: look until pred holds or timeoutMs passes.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  const uint32_t start = NowMs();
  while (!pred()) {
    if (NowMs() - start > static_cast<uint32_t>(timeoutMs)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class PtyPeer {
 public:
  PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) std::abort();
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) std::abort();
    slave_ = name;
    // Termios calls on the master act on the slave: raw, so no byte is
    // translated or echoed whichever transport opens it.
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    wake_ = ::eventfd(0, EFD_CLOEXEC);
  }
  ~PtyPeer() {
    CloseMaster();
    ::close(wake_);
  }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& Slave() const { return slave_; }
  int Master() const { return master_; }

  // Plays a printer: records every byte, answers GS a 255 with asbReply and
  // DLE EOT 1 with dleReply (when not empty).
  void StartPrinter(Bytes asbReply, Bytes dleReply = {}) {
    {
      std::lock_guard<std::mutex> g(lock_);
      asbReply_ = std::move(asbReply);
      dleReply_ = std::move(dleReply);
    }
    printer_ = std::thread([this] { PrinterLoop(); });
  }
  // What the printer answers GS a 255 with from now on (its state changed).
  void SetAsbReply(Bytes asbReply) {
    std::lock_guard<std::mutex> g(lock_);
    asbReply_ = std::move(asbReply);
  }
  void StopPrinter() {
    if (!printer_.joinable()) return;
    uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    printer_.join();
  }

  Bytes Received() const {
    std::lock_guard<std::mutex> g(lock_);
    return received_;
  }
  bool WaitReceived(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> g(lock_);
    return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= count; });
  }

  void Send(const Bytes& bytes) {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
  }

  // Without the printer thread: reads until count bytes came or timeoutMs passed.
  Bytes ReadFor(size_t count, int timeoutMs = 5000) {
    Bytes out;
    const uint32_t start = NowMs();
    while (out.size() < count) {
      int left = timeoutMs - static_cast<int>(NowMs() - start);
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) break;
      uint8_t buf[4096];
      ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }
  // Everything waiting now.
  Bytes Drain() {
    Bytes out;
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
      uint8_t buf[4096];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  // Fills the way from slave to master until it takes no more (the printer
  // stops reading).
  void FillUntilFull() {
    int fd = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) std::abort();
    uint8_t block[512] = {};
    // The kernel moves bytes on to the master's side in the background, so
    // room may reappear: full means two rounds in a row took nothing.
    for (int idleRounds = 0; idleRounds < 2;) {
      bool took = false;
      while (::write(fd, block, sizeof block) > 0) took = true;
      idleRounds = took ? 0 : idleRounds + 1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(fd);
  }

  // The printer goes away: the slave side hangs up.
  void CloseMaster() {
    StopPrinter();
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  static bool FindFrom(const Bytes& data, size_t from, const Bytes& tail, size_t* at) {
    for (size_t i = from; i + tail.size() <= data.size(); ++i) {
      if (std::equal(tail.begin(), tail.end(), data.begin() + static_cast<long>(i))) {
        *at = i + tail.size();
        return true;
      }
    }
    return false;
  }

  void PrinterLoop() {
    const Bytes asbEnable{0x1D, 0x61, 0xFF}, dleEot{0x10, 0x04, 0x01};
    size_t scanned = 0;
    for (;;) {
      pollfd p[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents & POLLIN) return;
      if (!(p[0].revents & POLLIN)) {
        if (p[0].revents & (POLLHUP | POLLERR)) {
          // Nobody holds the slave open: wait for the wake-up only.
          pollfd w{wake_, POLLIN, 0};
          ::poll(&w, 1, -1);
          return;
        }
        continue;
      }
      uint8_t buf[4096];
      ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      Bytes reply;
      {
        std::lock_guard<std::mutex> g(lock_);
        received_.insert(received_.end(), buf, buf + n);
        size_t at = 0;
        for (;;) {
          size_t from = scanned;
          if (FindFrom(received_, from, asbEnable, &at) && !asbReply_.empty()) {
            reply.insert(reply.end(), asbReply_.begin(), asbReply_.end());
            scanned = at;
          } else if (FindFrom(received_, from, dleEot, &at) && !dleReply_.empty()) {
            reply.insert(reply.end(), dleReply_.begin(), dleReply_.end());
            scanned = at;
          } else {
            break;
          }
        }
        scanned = std::max(scanned, received_.size() >= 2 ? received_.size() - 2 : 0);
      }
      cv_.notify_all();
      if (!reply.empty()) (void)!::write(master_, reply.data(), reply.size());
    }
  }

  int master_ = -1;
  int wake_ = -1;
  std::string slave_;
  Bytes asbReply_, dleReply_;  // guarded by lock_
  std::thread printer_;
  mutable std::mutex lock_;
  std::condition_variable cv_;
  Bytes received_;
};

// The printer and drawer services as a port object sees them.
class FakePrinter final : public IPrinterLink {
 public:
  void SetProcessIdSeen() override {
    processIdCalls.fetch_add(1);
    processIdSeen.Set();
  }
  void MarkImagesLost() override {
    imagesLostCalls.fetch_add(1);
    imagesLost.Set();
  }
  void StatusReportArrived() override { reportArrived.Set(); }
  std::atomic<int> processIdCalls{0};
  std::atomic<int> imagesLostCalls{0};
  platform::Event processIdSeen;
  platform::Event imagesLost;
  platform::Event reportArrived;
};

class FakeDrawer final : public IDrawerLink {};

// Descriptors of this process open on path.
inline int OpenDescriptorsOn(const std::string& path) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code ec2;
    if (std::filesystem::read_symlink(entry.path(), ec2) == path) ++count;
  }
  return count;
}

inline int ThreadCount() {
  int count = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/task", ec);
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

// write() calls made by the calling thread so far.
inline long WriteCallsOfThisThread() {
  FILE* f = std::fopen("/proc/thread-self/io", "r");
  if (f == nullptr) return -1;
  char key[64];
  long value = -1, result = -1;
  while (std::fscanf(f, "%63s %ld", key, &value) == 2) {
    if (std::string(key) == "syscw:") result = value;
  }
  std::fclose(f);
  return result;
}

// A link in the port folder, for the test's lifetime.
class ScopedLink {
 public:
  ScopedLink(const std::string& directory, const std::string& name, const std::string& target)
      : path_(std::filesystem::path(directory) / name) {
    std::filesystem::create_directories(directory);
    std::filesystem::remove(path_);
    std::filesystem::create_symlink(target, path_);
  }
  ~ScopedLink() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ScopedLink(const ScopedLink&) = delete;
  ScopedLink& operator=(const ScopedLink&) = delete;
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// A folder under the test's temporary directory, made fresh.
inline std::string FreshDir(const std::string& name) {
  std::string dir =
      std::filesystem::temp_directory_path() / ("opos-transport-" + std::to_string(::getpid()) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace opos::test
