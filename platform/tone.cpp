// The tone hook, the tone log and the wait: the same everywhere; the sound
// itself comes from SoundTone of each system.
#include "platform/tone.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/tone_output.h"

namespace opos::platform {

namespace {

std::mutex gHookLock;
std::shared_ptr<const ToneHook> gHook;  // under gHookLock

std::shared_ptr<const ToneHook> CurrentHook() {
  std::lock_guard<std::mutex> g(gHookLock);
  return gHook;
}

// False when OPOS_TONE_LOG is not set.
bool LogTone(int32_t frequencyHz, int32_t durationMs) {
  const char* path = std::getenv("OPOS_TONE_LOG");
  if (!path || !*path) return false;
  FILE* f = std::fopen(path, "ab");
  if (f == nullptr) return true;  // asked not to sound; a log that cannot be written loses only the record
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%u %d %d\n", TickCount(), frequencyHz, durationMs);
  // Unbuffered, so the line goes out in one append: lines never interleave.
  std::setvbuf(f, nullptr, _IONBF, 0);
  if (n > 0) (void)std::fwrite(line, 1, static_cast<size_t>(n), f);
  std::fclose(f);
  return true;
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
  } else {
    SoundTone(frequencyHz, durationMs, cancel);
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
