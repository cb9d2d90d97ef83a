#include "platform/pollable_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

namespace opos::platform {

namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PollableEvent::PollableEvent() {
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PollableEvent::~PollableEvent() {
  if (fd_ >= 0) close(fd_);
}

void PollableEvent::Set() {
  std::lock_guard<std::mutex> g(lock_);
  if (set_.exchange(true)) return;
  uint64_t one = 1;
  ssize_t n = write(fd_, &one, sizeof one);  // the counter holds at most 1
  (void)n;
}

void PollableEvent::Reset() {
  std::lock_guard<std::mutex> g(lock_);
  if (!set_.exchange(false)) return;
  uint64_t count;
  ssize_t n = read(fd_, &count, sizeof count);
  (void)n;
}

bool PollableEvent::Wait(int timeoutMs) const {
  if (IsSet()) return true;
  return WaitForInput(-1, {this}, timeoutMs).signalled;
}

InputWait WaitForInput(int deviceFd, std::initializer_list<const PollableEvent*> signals, int timeoutMs) {
  const bool forever = timeoutMs < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
  std::vector<pollfd> fds;
  fds.reserve(signals.size() + 1);
  for (const PollableEvent* s : signals) fds.push_back({s->Fd(), POLLIN, 0});
  if (deviceFd >= 0) fds.push_back({deviceFd, POLLIN, 0});
  InputWait result;
  for (;;) {
    int r = ::poll(fds.data(), fds.size(), forever ? -1 : LeftMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      // Only a bad descriptor gets here: let the caller's read find out.
      result.input = deviceFd >= 0;
      return result;
    }
    for (const PollableEvent* s : signals) result.signalled = result.signalled || s->IsSet();
    if (deviceFd >= 0) result.input = fds.back().revents != 0;
    return result;
  }
}

}  // namespace opos::platform
