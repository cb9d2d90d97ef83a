#include "platform/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace opos::platform {

namespace {

constexpr size_t kMaxNameLength = 200;  // well below NAME_MAX with the suffix

bool EnsureDirectory(const std::string& dir, bool shared) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (::mkdir(dir.c_str(), shared ? 01777 : 0700) != 0 && errno != EEXIST) return false;
  // mkdir applies the umask; a folder shared by all users must stay open to them.
  if (shared) (void)::chmod(dir.c_str(), 01777);
  return true;
}

}  // namespace

PortLock& PortLock::operator=(PortLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

std::string PortLock::Directory() {
  const char* dir = std::getenv("OPOS_LOCK_DIR");
  if (dir != nullptr && *dir != '\0') return dir;
  return "/tmp/opos-locks";
}

std::string PortLock::FileFor(const std::string& realDevicePath, const std::string& kind) {
  // '/' cannot appear in a file name: escape it (and the escape character) so
  // that distinct paths never share a lock file.
  std::string name;
  for (char c : realDevicePath) {
    if (c == '/') {
      name += "%2F";
    } else if (c == '%') {
      name += "%25";
    } else {
      name += c;
    }
  }
  if (name.size() > kMaxNameLength) {
    char hash[32];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(realDevicePath));
    name = name.substr(name.size() - (kMaxNameLength - 20)) + "~" + hash;
  }
  return Directory() + "/" + name + "." + kind + ".lock";
}

bool PortLock::TryAcquire(const std::string& devicePath, const std::string& kind) {
  Release();
  char real[PATH_MAX];
  if (::realpath(devicePath.c_str(), real) == nullptr) return false;
  const char* custom = std::getenv("OPOS_LOCK_DIR");
  if (!EnsureDirectory(Directory(), custom == nullptr || *custom == '\0')) return false;
  std::string file = FileFor(real, kind);
  int fd;
  do {
    fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  (void)::fchmod(fd, 0666);  // other users must be able to take it too; fails harmlessly if not ours
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void PortLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace opos::platform
