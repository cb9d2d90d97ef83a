#include "platform/tone_output.h"

#include <algorithm>

#include "platform/win32/win_api.h"

namespace opos::platform {

void SoundTone(int32_t frequencyHz, int32_t durationMs, const Event* cancel) {
  // Beep takes 37 to 32767 Hz and cannot be stopped once started: sounded in
  // short pieces so a cancel is heard within one piece.
  constexpr int32_t kPieceMs = 100;
  const DWORD hz = static_cast<DWORD>(std::clamp<int32_t>(frequencyHz, 37, 32767));
  for (int32_t left = durationMs; left > 0 && !(cancel && cancel->IsSet()); left -= kPieceMs) {
    if (!Beep(hz, static_cast<DWORD>(std::min(left, kPieceMs)))) return;  // no sound: Tone waits out the rest
  }
}

}  // namespace opos::platform
