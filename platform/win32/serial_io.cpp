// Line settings and modem lines of a COM port through the DCB and the comm
// functions.
#include "platform/serial_io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/serial_shared.h"
#include "platform/win32/device_table.h"

namespace opos::platform {

namespace {

std::atomic<OutputQueueProbe> gProbe{nullptr};

// Bytes still queued for output; -1 when the port cannot tell.
int QueuedOutput(int fd, HANDLE h) {
  if (OutputQueueProbe probe = gProbe.load()) return probe(fd);
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(h, &errors, &stat)) return -1;
  return static_cast<int>(stat.cbOutQue);
}

bool HasModemLines(HANDLE h) {
  DWORD status = 0;
  return GetCommModemStatus(h, &status) != FALSE;
}

}  // namespace

bool IsSupportedBitRate(int bitsPerSecond) {
  switch (bitsPerSecond) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
      return true;
    default:
      return false;
  }
}

bool ConfigureSerialLine(int fd, const SerialLine& line) {
  auto dev = win32::FindDevice(fd);
  if (!dev) {
    errno = EBADF;
    return false;
  }
  if (!dev->comm) {
    errno = ENOTTY;
    return false;
  }
  if (!IsSupportedBitRate(line.bitsPerSecond) || (line.stopBits != 1 && line.stopBits != 2)) {
    errno = EINVAL;
    return false;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(dev->handle, &dcb)) {
    errno = win32::ErrnoFromWin32(GetLastError());
    return false;
  }
  dcb.BaudRate = static_cast<DWORD>(line.bitsPerSecond);
  dcb.ByteSize = 8;
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity != SerialParity::kNone;
  dcb.Parity = line.parity == SerialParity::kNone   ? NOPARITY
               : line.parity == SerialParity::kEven ? EVENPARITY
                                                    : ODDPARITY;
  dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  // No flow control of either kind; DTR and RTS raised.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.fNull = FALSE;
  if (SetCommState(dev->handle, &dcb)) return true;
  const DWORD err = GetLastError();
  // A port without modem lines (a pseudo-terminal) carries no parity either.
  if (dcb.fParity && !HasModemLines(dev->handle)) {
    dcb.fParity = FALSE;
    dcb.Parity = NOPARITY;
    if (SetCommState(dev->handle, &dcb)) return true;
  }
  errno = win32::ErrnoFromWin32(err);
  return false;
}

void SetOutputQueueProbe(OutputQueueProbe probe) {
  gProbe.store(probe);
}

bool SerialCtsOn(int fd) {
  auto dev = win32::FindDevice(fd);
  if (!dev || !dev->comm) return true;
  DWORD status = 0;
  if (!GetCommModemStatus(dev->handle, &status)) return PtyLineStateOn();
  return (status & MS_CTS_ON) != 0;
}

bool DrainOutputWithin(int fd, int stallMs, int totalMs) {
  auto dev = win32::FindDevice(fd);
  if (!dev) {
    errno = EBADF;
    return false;
  }
  if (!dev->comm) return true;  // a printer-class port's write completes when the bytes left
  return WaitForQueueToEmpty([fd, &dev] { return QueuedOutput(fd, dev->handle); }, stallMs, totalMs);
}

}  // namespace opos::platform
