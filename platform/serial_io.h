// termios settings and modem lines of a serial port (the stand-in for the
// DCB, SetCommState and GetCommModemStatus).
#pragma once

#ifndef _WIN32
#include <termios.h>
#endif

namespace opos::platform {

enum class SerialParity { kNone, kEven, kOdd };

struct SerialLine {
  int bitsPerSecond = 9600;
  SerialParity parity = SerialParity::kNone;
  int stopBits = 1;  // 1 or 2
};

// True for the bit rates the port can be set to.
[[nodiscard]] bool IsSupportedBitRate(int bitsPerSecond);

#ifndef _WIN32
// Puts the line settings into t (the rest of t is kept); false for a rate or
// stop-bit count the port cannot take.
[[nodiscard]] bool ApplySerialLine(const SerialLine& line, termios* t);
#endif

// Raw 8-bit line with the given rate, parity and stop bits, no flow control
// of either kind, receiver on, modem control ignored; DTR and RTS raised.
// A device without modem lines (a pseudo-terminal) refuses the modem ioctls;
// that is not an error. False (errno kept) when the settings are refused.
[[nodiscard]] bool ConfigureSerialLine(int fd, const SerialLine& line);

// CTS as the port sees it; a device without modem lines reads as on. A
// pseudo-terminal has no lines: when OPOS_PTY_LINE_STATE names a file (the
// virtual printer writes "1" powered, "0" off into it), CTS follows that file.
[[nodiscard]] bool SerialCtsOn(int fd);

// Waits until every byte written has left the port, or fails when the output
// queue has not shrunk for stallMs or totalMs have passed. Nothing is discarded.
[[nodiscard]] bool DrainOutputWithin(int fd, int stallMs, int totalMs);

// Test seam: stands in for the count of bytes still queued for output (a
// stalled UART). Null restores the real count.
using OutputQueueProbe = int (*)(int fd);
void SetOutputQueueProbe(OutputQueueProbe probe);

}  // namespace opos::platform
