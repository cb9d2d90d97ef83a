#include "platform/tone.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/tone_output.h"

namespace opos::platform {

namespace {

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

void RingBell() {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t w = ::write(fd, "\a", 1);
  (void)w;  // a bell that cannot ring is not an error for the caller
  ::close(fd);
}

}  // namespace

void SoundTone(int32_t frequencyHz, int32_t durationMs, const Event* cancel) {
  if (!PlayOnSoundDevice(frequencyHz, durationMs, cancel)) RingBell();
}

}  // namespace opos::platform
