#include "tools/vprinter/pty_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vprinter {

namespace {

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

PtyPort::~PtyPort() {
  Close();
}

bool PtyPort::Open(std::string* error) {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    if (error) *error = ErrnoText("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    if (error) *error = ErrnoText("pseudo-terminal setup");
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0) {
    if (error) *error = ErrnoText(("open " + slavePath_).c_str());
    Close();
    return false;
  }
  // On Linux the line discipline settings live with the slave; setting them through
  // both descriptors covers systems where the master keeps its own.
  if (!MakeRaw(slave_) || !MakeRaw(master_)) {
    if (error) *error = ErrnoText("tcsetattr");
    Close();
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    if (error) *error = ErrnoText("fcntl");
    Close();
    return false;
  }
  return true;
}

bool PtyPort::PublishLink(const std::string& link, std::string* error) {
  if (slavePath_.empty()) {
    if (error) *error = "no pseudo-terminal";
    return false;
  }
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    if (error) *error = link + " exists and is not a symbolic link";
    return false;
  }
  // Build the link beside its final name and rename it into place, so a reader
  // never sees the name missing or half made.
  static std::atomic<unsigned> serial{0};
  const std::string tmp =
      link + ".tmp" + std::to_string(getpid()) + "." + std::to_string(serial.fetch_add(1));
  ::unlink(tmp.c_str());
  if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0) {
    if (error) *error = ErrnoText(("symlink " + link).c_str());
    return false;
  }
  if (::rename(tmp.c_str(), link.c_str()) != 0) {
    if (error) *error = ErrnoText(("rename to " + link).c_str());
    ::unlink(tmp.c_str());
    return false;
  }
  link_ = link;
  return true;
}

void PtyPort::Close() {
  if (!link_.empty()) {
    std::vector<char> target(slavePath_.size() + 2);
    const ssize_t n = ::readlink(link_.c_str(), target.data(), target.size());
    if (n >= 0 && static_cast<size_t>(n) == slavePath_.size() &&
        std::memcmp(target.data(), slavePath_.data(), slavePath_.size()) == 0) {
      ::unlink(link_.c_str());
    }
    link_.clear();
  }
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
  slavePath_.clear();
}

}  // namespace vprinter
