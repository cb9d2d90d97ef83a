// Tone output: the stand-in for Beep. A square wave on the OSS sound device
// when one is present, else the terminal bell on the controlling terminal.
// Tests replace the output with a hook and observe the tones.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/sync_event.h"

namespace opos::platform {

// Receives every tone instead of the sound output (frequency in Hz, duration
// in ms); runs on the thread that calls Tone and must not block long.
using ToneHook = std::function<void(int32_t frequencyHz, int32_t durationMs)>;

// Replaces the output for this copy of the platform layer; an empty hook
// restores it. A Service Object library carries its own copy, out of reach of
// its host: there OPOS_TONE_LOG (a file path) does the same, each tone being
// appended as a line "<TickCount> <frequency> <duration>" instead of sounding.
void SetToneHook(ToneHook hook);

// Sounds a tone and returns when durationMs have passed, like Beep, or as
// soon as cancel (if given) is set. A frequency or duration of 0 or less
// sounds nothing and returns at once.
void Tone(int32_t frequencyHz, int32_t durationMs, const Event* cancel = nullptr);

}  // namespace opos::platform
