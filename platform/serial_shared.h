// What the serial ports of both systems share: waiting for the output queue
// to empty within limits (a drain neither offers), and the line state of a
// port without modem lines.
#pragma once

#include <functional>

namespace opos::platform {

// True once queued() (bytes still to leave; -1 when unknown) reads 0; false
// when it is unknown, or has not shrunk for stallMs, or totalMs have passed
// (then errno is ETIMEDOUT). Nothing is discarded.
[[nodiscard]] bool WaitForQueueToEmpty(const std::function<int()>& queued, int stallMs, int totalMs);

// CTS of a port without modem lines (a pseudo-terminal): on, unless
// OPOS_PTY_LINE_STATE names a file whose first byte is '0' (the virtual
// printer writes "1" powered, "0" off into it).
[[nodiscard]] bool PtyLineStateOn();

}  // namespace opos::platform
