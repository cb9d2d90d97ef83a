// termios settings and modem lines of a serial port (the stand-in for the
// DCB, SetCommState and GetCommModemStatus).
#pragma once

#include <termios.h>

namespace opos::platform {

enum class SerialParity { kNone, kEven, kOdd };

struct SerialLine {
  int bitsPerSecond = 9600;
  SerialParity parity = SerialParity::kNone;
  int stopBits = 1;  // 1 or 2
};

// True for the bit rates the port can be set to.
[[nodiscard]] bool IsSupportedBitRate(int bitsPerSecond);

// Puts the line settings into t (the rest of t is kept); false for a rate or
// stop-bit count the port cannot take.
[[nodiscard]] bool ApplySerialLine(const SerialLine& line, termios* t);

// Raw 8-bit line with the given rate, parity and stop bits, no flow control
// of either kind, receiver on, modem control ignored; DTR and RTS raised.
// A device without modem lines (a pseudo-terminal) refuses the modem ioctls;
// that is not an error. False (errno kept) when the settings are refused.
[[nodiscard]] bool ConfigureSerialLine(int fd, const SerialLine& line);

// CTS as the port sees it; a device without modem lines reads as on.
[[nodiscard]] bool SerialCtsOn(int fd);

// Waits until every byte written has left the port. Without flow control the
// UART always empties, so this is bounded by the queue length at the bit rate.
[[nodiscard]] bool DrainOutput(int fd);

}  // namespace opos::platform
