#include "platform/tone.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace opos::platform {

namespace {

std::mutex gHookLock;
std::shared_ptr<const ToneHook> gHook;  // under gHookLock

std::shared_ptr<const ToneHook> CurrentHook() {
  std::lock_guard<std::mutex> g(gHookLock);
  return gHook;
}

// OSS opens in 8-bit unsigned mono at 8000 samples a second unless told
// otherwise, so no ioctl is needed for a plain square wave.
constexpr int kRate = 8000;

// Writes the square wave; false when there is no sound device. The device
// buffers ahead, so the caller still waits out the duration.
bool PlayOnSoundDevice(int32_t frequencyHz, int32_t durationMs, const Event* cancel) {
  const int fd = ::open("/dev/dsp", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Audible and representable at this rate (at least two samples a period).
  const int32_t hz = std::clamp<int32_t>(frequencyHz, 37, kRate / 2);
  const int64_t total = static_cast<int64_t>(kRate) * durationMs / 1000;
  const int half = std::max(1, kRate / hz / 2);
  std::vector<uint8_t> chunk(kRate / 50);  // 20 ms
  int64_t written = 0;
  int phase = 0;
  while (written < total && !(cancel && cancel->IsSet())) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(chunk.size(), total - written));
    for (size_t i = 0; i < n; ++i) {
      chunk[i] = phase < half ? 0xC0 : 0x40;
      phase = (phase + 1) % (2 * half);
    }
    const ssize_t w = ::write(fd, chunk.data(), n);
    if (w <= 0) break;  // buffer full or device gone: what is queued plays out
    written += w;
  }
  ::close(fd);
  return true;
}

// False when OPOS_TONE_LOG is not set.
bool LogTone(int32_t frequencyHz, int32_t durationMs) {
  const char* path = std::getenv("OPOS_TONE_LOG");
  if (!path || !*path) return false;
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return true;  // asked not to sound; a log that cannot be written loses only the record
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%u %d %d\n", TickCount(), frequencyHz, durationMs);
  if (n > 0) {
    const ssize_t w = ::write(fd, line, static_cast<size_t>(n));  // one write: lines never interleave
    (void)w;
  }
  ::close(fd);
  return true;
}

void RingBell() {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t w = ::write(fd, "\a", 1);
  (void)w;  // a bell that cannot ring is not an error for the caller
  ::close(fd);
}

}  // namespace

void SetToneHook(ToneHook hook) {
  std::shared_ptr<const ToneHook> next;
  if (hook) next = std::make_shared<const ToneHook>(std::move(hook));
  std::lock_guard<std::mutex> g(gHookLock);
  gHook = std::move(next);
}

void Tone(int32_t frequencyHz, int32_t durationMs, const Event* cancel) {
  if (frequencyHz <= 0 || durationMs <= 0) return;
  const uint32_t start = TickCount();
  if (auto hook = CurrentHook()) {
    (*hook)(frequencyHz, durationMs);
  } else if (LogTone(frequencyHz, durationMs)) {
    // recorded instead of sounded
  } else if (!PlayOnSoundDevice(frequencyHz, durationMs, cancel)) {
    RingBell();
  }
  const uint32_t spent = TickCount() - start;
  if (spent >= static_cast<uint32_t>(durationMs)) return;
  const int left = static_cast<int>(static_cast<uint32_t>(durationMs) - spent);
  if (cancel) {
    cancel->Wait(left);
  } else {
    SleepMs(left);
  }
}

}  // namespace opos::platform
