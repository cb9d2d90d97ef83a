// The system's own tone output, behind Tone (tone.h).
#pragma once

#include <cstdint>

#include "platform/sync_event.h"

namespace opos::platform {

// Sounds frequencyHz for up to durationMs, or until cancel (if given) is set;
// may return before the duration is over (Tone waits out the rest).
void SoundTone(int32_t frequencyHz, int32_t durationMs, const Event* cancel);

}  // namespace opos::platform
