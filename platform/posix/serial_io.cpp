#include "platform/serial_io.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/serial_shared.h"

namespace opos::platform {

namespace {

bool SpeedFor(int bitsPerSecond, speed_t* out) {
  switch (bitsPerSecond) {
    case 1200:
      *out = B1200;
      return true;
    case 2400:
      *out = B2400;
      return true;
    case 4800:
      *out = B4800;
      return true;
    case 9600:
      *out = B9600;
      return true;
    case 19200:
      *out = B19200;
      return true;
    case 38400:
      *out = B38400;
      return true;
    case 57600:
      *out = B57600;
      return true;
    case 115200:
      *out = B115200;
      return true;
    default:
      return false;
  }
}

// Unix98 pseudo-terminal slaves (majors 136-143) have no line to carry parity:
// the kernel drops PARENB, and asking for it again is refused with EINVAL.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

}  // namespace

bool IsSupportedBitRate(int bitsPerSecond) {
  speed_t s;
  return SpeedFor(bitsPerSecond, &s);
}

bool ApplySerialLine(const SerialLine& line, termios* t) {
  speed_t speed;
  if (!SpeedFor(line.bitsPerSecond, &speed) || (line.stopBits != 1 && line.stopBits != 2)) return false;
  ::cfmakeraw(t);
  t->c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t->c_cflag |= CS8 | CREAD | CLOCAL;
  if (line.parity != SerialParity::kNone) {
    t->c_cflag |= PARENB;
    if (line.parity == SerialParity::kOdd) t->c_cflag |= PARODD;
  }
  if (line.stopBits == 2) t->c_cflag |= CSTOPB;
  // Reads never wait in the driver; the callers poll with their own limits.
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  return ::cfsetispeed(t, speed) == 0 && ::cfsetospeed(t, speed) == 0;
}

bool ConfigureSerialLine(int fd, const SerialLine& line) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  if (!ApplySerialLine(line, &t)) {
    errno = EINVAL;
    return false;
  }
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    if (errno != EINVAL || !IsPseudoTerminal(fd)) return false;
    t.c_cflag &= ~(PARENB | PARODD);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return false;
  }
  int bits = TIOCM_DTR | TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIS, &bits);  // fails on a pseudo-terminal: no modem lines
  return true;
}

namespace {

std::atomic<OutputQueueProbe> gProbe{nullptr};

// Bytes not yet on the wire: the driver's queue, then the transmitter itself
// where the driver tells (TIOCSERGETLSR); -1 when the queue cannot be read.
int QueuedOutput(int fd) {
  if (OutputQueueProbe probe = gProbe.load()) return probe(fd);
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return -1;
  if (queued > 0) return queued;
  unsigned lsr = 0;
  if (::ioctl(fd, TIOCSERGETLSR, &lsr) == 0 && (lsr & TIOCSER_TEMT) == 0) return 1;
  return 0;
}

}  // namespace

void SetOutputQueueProbe(OutputQueueProbe probe) {
  gProbe.store(probe);
}

bool SerialCtsOn(int fd) {
  if (IsPseudoTerminal(fd)) return PtyLineStateOn();
  int status = 0;
  if (::ioctl(fd, TIOCMGET, &status) != 0) return true;
  return (status & TIOCM_CTS) != 0;
}

bool DrainOutputWithin(int fd, int stallMs, int totalMs) {
  return WaitForQueueToEmpty([fd] { return QueuedOutput(fd); }, stallMs, totalMs);
}

}  // namespace opos::platform
