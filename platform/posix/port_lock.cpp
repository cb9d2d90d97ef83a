#include "platform/port_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/device_io.h"

namespace opos::platform {

namespace {

constexpr const char* kSystemDir = "/run/lock/opos";
constexpr const char* kLockGroup = "opos";

void SetWhy(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}

// Root sets the system folder up when the package's tmpfiles entry has not
// (yet): root-owned, group opos, setgid so lock files keep the group.
void CreateSystemDirectory() {
  if (::geteuid() != 0) return;
  if (::mkdir(kSystemDir, 0770) != 0) return;
  gid_t gid = 0;
  if (const group* g = ::getgrnam(kLockGroup)) gid = g->gr_gid;
  (void)::chown(kSystemDir, 0, gid);
  (void)::chmod(kSystemDir, 02770);
}

bool UsableDirectory(const std::string& dir, std::string* why) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    SetWhy(why, "lock folder " + dir + ": " + ErrorText(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetWhy(why, "lock folder " + dir + ": not a folder");
    return false;
  }
  // Anyone could replace a lock file in a folder every user may write.
  if ((st.st_mode & S_IWOTH) != 0) {
    SetWhy(why, "lock folder " + dir + ": writable by every user; refused");
    return false;
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    SetWhy(why, "lock folder " + dir + ": " + ErrorText(errno));
    return false;
  }
  return true;
}

// The program name beside the PID, as ps shows it.
std::string ProcessName(long pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/comm", pid);
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) return {};
  char name[64] = {};
  const bool got = std::fgets(name, sizeof name, f) != nullptr;
  std::fclose(f);
  if (!got) return {};
  name[std::strcspn(name, "\n")] = '\0';
  return name;
}

std::string HolderOf(int fd) {
  char text[64] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  long pid = 0;
  if (n > 0 && std::sscanf(text, "%ld", &pid) == 1 && pid > 0) {
    // The name from /proc when the holder is visible; else what it wrote.
    std::string name = ProcessName(pid);
    if (name.empty()) {
      const char* space = std::strchr(text, ' ');
      if (space != nullptr) name = std::string(space + 1, std::strcspn(space + 1, "\n"));
    }
    return "held by process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
  }
  return "held by another process";
}

void WriteHolder(int fd) {
  std::string text = std::to_string(::getpid()) + " " + ProcessName(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
}

}  // namespace

std::string PortLock::Directory(std::string* why) {
  const char* custom = std::getenv("OPOS_LOCK_DIR");
  if (custom != nullptr && *custom != '\0') {
    (void)::mkdir(custom, 0700);
    return UsableDirectory(custom, why) ? custom : "";
  }
  struct stat st {};
  if (::stat(kSystemDir, &st) != 0 && errno == ENOENT) CreateSystemDirectory();
  std::string systemWhy;
  if (UsableDirectory(kSystemDir, &systemWhy)) return kSystemDir;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') {
    SetWhy(why, systemWhy + ", and XDG_RUNTIME_DIR is not set");
    return {};
  }
  std::string dir = std::string(runtime) + "/opos-locks";
  (void)::mkdir(dir.c_str(), 0700);
  return UsableDirectory(dir, why) ? dir : "";
}

std::string PortLock::FileName(uint64_t rdev) {
  const dev_t d = static_cast<dev_t>(rdev);
  return "char-" + std::to_string(major(d)) + ":" + std::to_string(minor(d)) + ".lock";
}

bool PortLock::TryAcquire(uint64_t rdev, std::string* why) {
  Release();
  const std::string dir = Directory(why);
  if (dir.empty()) return false;
  const std::string file = dir + "/" + FileName(rdev);
  int fd;
  do {
    fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0660);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == EACCES) {
    // A group member's file that the umask left read-only to us: a lock
    // needs no write access, only the holder note does.
    do {
      fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    SetWhy(why, "lock file " + file + ": " + ErrorText(errno));
    return false;
  }
  (void)::fchmod(fd, 0660);  // against the umask; fails harmlessly on another user's file
  int r;
  do {
    r = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  if (r != 0) {
    const int err = errno;
    SetWhy(why, err == EWOULDBLOCK ? HolderOf(fd) : "lock file " + file + ": " + ErrorText(err));
    ::close(fd);
    return false;
  }
  WriteHolder(fd);
  fd_ = fd;
  return true;
}

void PortLock::Release() {
  if (fd_ >= 0) {
    // The file stays: removing it would let a waiter lock an unlinked inode.
    (void)!::ftruncate(fd_, 0);
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace opos::platform
