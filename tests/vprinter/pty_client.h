// The host's end for the pseudo-terminal tests: opens the printer's link the way a
// port object opens a device, and reads replies with a time limit.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/vprinter/test_bytes.h"

namespace vprinter_test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vprinter-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  bool Ok() const { return !path_.empty(); }

 private:
  std::string path_;
};

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~PtyClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Line settings as the serial port object applies them: 9600 bit/s, 8 data bits,
  // even parity, no flow control, raw; then both directions purged.
  bool ConfigureLikeSerialPort() {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD | PARENB;
    t.c_cflag &= ~static_cast<tcflag_t>(PARODD | CRTSCTS);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
      // A pseudo-terminal has no parity: the kernel drops PARENB, and when that was the
      // only change asked for (same speed as the last open) tcsetattr says EINVAL.
      // Accept it when everything a pseudo-terminal can hold did take effect.
      termios now{};
      if (errno != EINVAL || tcgetattr(fd_, &now) != 0) return false;
      const tcflag_t parity = PARENB | PARODD;
      if (cfgetospeed(&now) != B9600 || now.c_iflag != t.c_iflag || now.c_lflag != t.c_lflag ||
          (now.c_cflag & ~parity) != (t.c_cflag & ~parity)) {
        return false;
      }
    }
    return tcflush(fd_, TCIOFLUSH) == 0;
  }

  bool WriteAll(const Bytes& b) {
    size_t done = 0;
    while (done < b.size()) {
      const ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, 5000) <= 0) return false;
    }
    return true;
  }

  // Reads exactly n bytes, or fewer when the time limit passes first.
  Bytes ReadN(size_t n, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (out.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buf[256];
      const ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
      if (got > 0) out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

 private:
  int fd_ = -1;
};

}  // namespace vprinter_test
