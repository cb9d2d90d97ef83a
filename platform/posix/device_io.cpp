#include "platform/device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace opos::platform {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// poll() that restarts after a signal with the time that is left.
int PollUntil(int fd, short events, Clock::time_point deadline, short* revents) {
  for (;;) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    *revents = p.revents;
    return r;
  }
}

bool Identify(const struct stat& st, DeviceIdentity* out) {
  if (S_ISCHR(st.st_mode)) {
    *out = DeviceIdentity{true, static_cast<uint64_t>(st.st_rdev), 0};
  } else {
    *out = DeviceIdentity{false, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  }
  return true;
}

}  // namespace

bool IdentifyDevice(const std::string& path, DeviceIdentity* out) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  return Identify(st, out);
}

bool IdentifyOpenDevice(int fd, DeviceIdentity* out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  return Identify(st, out);
}

int OpenCharDevice(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

namespace {

// Tries the write first and polls only when the device refuses bytes, so a
// device with room costs one system call per write. With restartOnProgress
// the limit counts from the last time the device took bytes.
WriteResult WriteLimited(int fd, const uint8_t* bytes, size_t length, int timeoutMs, bool restartOnProgress) {
  WriteResult result;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int refusedAfterReady = 0;  // write() refusals right after poll() said writable
  bool polled = false;
  while (result.written < length) {
    ssize_t n = ::write(fd, bytes + result.written, length - result.written);
    if (n > 0) {
      result.written += static_cast<size_t>(n);
      polled = false;
      refusedAfterReady = 0;
      if (restartOnProgress) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    IoStatus s = n == 0 ? IoStatus::kTimedOut : ClassifyDeviceError(errno);
    if (s != IoStatus::kTimedOut) return {s, result.written};
    // A pseudo-terminal may say writable a moment before it has room; some
    // drivers (/dev/lp without poll support) always do. Past the first such
    // refusal, pause instead of spinning.
    if (polled && ++refusedAfterReady > 1) {
      if (RemainingMs(deadline) == 0) return {IoStatus::kTimedOut, result.written};
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, RemainingMs(deadline))));
    }
    short revents = 0;
    int r = PollUntil(fd, POLLOUT, deadline, &revents);
    if (r < 0) return {ClassifyDeviceError(errno), result.written};
    if (r == 0) return {IoStatus::kTimedOut, result.written};
    if (revents & POLLNVAL) return {IoStatus::kLost, result.written};
    if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT)) {
      return {IoStatus::kLost, result.written};
    }
    polled = true;
  }
  return result;
}

}  // namespace

WriteResult WriteWithin(int fd, const uint8_t* bytes, size_t length, int timeoutMs) {
  return WriteLimited(fd, bytes, length, timeoutMs, false);
}

WriteResult WriteWhileTaken(int fd, const uint8_t* bytes, size_t length, int stallLimitMs) {
  return WriteLimited(fd, bytes, length, stallLimitMs, true);
}

ReadResult ReadWaiting(int fd, uint8_t* buffer, size_t maxBytes, int waitMs) {
  if (buffer == nullptr || maxBytes == 0) return {};
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs > 0 ? waitMs : 0);
  short revents = 0;
  int r = PollUntil(fd, POLLIN, deadline, &revents);
  if (r < 0) return {ClassifyDeviceError(errno), 0};
  if (r == 0) return {};
  if (revents & POLLNVAL) return {IoStatus::kLost, 0};
  const bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer, maxBytes);
    if (n > 0) return {IoStatus::kOk, static_cast<size_t>(n)};
    if (n < 0 && errno == EINTR) continue;
    // A terminal reads end-of-file only after a hang-up; a printer-class
    // device may answer 0 when it simply has nothing to say.
    if (n == 0) return {hungUp ? IoStatus::kLost : IoStatus::kOk, 0};
    IoStatus s = ClassifyDeviceError(errno);
    if (s == IoStatus::kTimedOut) return {hungUp ? IoStatus::kLost : IoStatus::kOk, 0};
    return {s, 0};
  }
}

void CloseDevice(int fd) {
  if (fd >= 0) ::close(fd);  // not retried on EINTR: the descriptor is gone either way
}

}  // namespace opos::platform
