#include "platform/serial_shared.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <thread>

namespace opos::platform {

bool WaitForQueueToEmpty(const std::function<int()>& queued, int stallMs, int totalMs) {
  // No driver offers a drain with a time limit, so look at the queue in small
  // steps; a step sleeps, it never spins.
  constexpr int kStepMs = 5;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto lastProgress = start;
  int last = queued();
  while (last != 0) {
    if (last < 0) return false;
    const auto now = Clock::now();
    if (now - lastProgress >= std::chrono::milliseconds(stallMs) ||
        now - start >= std::chrono::milliseconds(totalMs)) {
      errno = ETIMEDOUT;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    const int next = queued();
    if (next < last) lastProgress = Clock::now();
    last = next;
  }
  return true;
}

bool PtyLineStateOn() {
  const char* file = std::getenv("OPOS_PTY_LINE_STATE");
  if (file == nullptr || *file == '\0') return true;
#ifdef _WIN32
  FILE* f = std::fopen(file, "rb");
#else
  FILE* f = std::fopen(file, "re");  // not inherited by a child process
#endif
  if (f == nullptr) return true;
  const int c = std::fgetc(f);
  std::fclose(f);
  return c != '0';
}

}  // namespace opos::platform
