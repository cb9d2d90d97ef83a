// Millisecond tick counter and sleeps: the stand-in for timeGetTime,
// GetTickCount and Sleep.
#pragma once

#include <cstdint>

namespace opos::platform {

// Milliseconds of a monotonic clock; wraps like the Windows tick counter, so
// compare with unsigned subtraction (TickCount() - start).
uint32_t TickCount();
void SleepMs(int ms);

}  // namespace opos::platform
