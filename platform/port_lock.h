// The cross-process lock on one port device, as Windows gives a COM or
// printer port to one process at a time: flock on a lock file named from the
// device's number (st_rdev), so every path, link or bind mount that reaches
// the device finds the same lock. The holder writes "PID program" into the
// file so that a refused process can name it. The kernel drops the lock when
// its holder dies, so a crashed application never leaves a port blocked.
// On Windows the lock is a named section "Local\opos-port-N" that exists
// while its holder has it open, and holds the holder's note.
#pragma once

#include <cstdint>
#include <string>

namespace opos::platform {

class PortLock {
 public:
  PortLock() = default;
  ~PortLock() { Release(); }
  PortLock(PortLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  PortLock& operator=(PortLock&& other) noexcept {
    if (this != &other) {
      Release();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock of the character device numbered rdev without waiting.
  // The caller has already opened the device, so a user who cannot open it
  // never holds its lock. On failure, *why (if given) says what stood in the
  // way: "held by process N (name)", or the lock folder or file and errno.
  [[nodiscard]] bool TryAcquire(uint64_t rdev, std::string* why = nullptr);
  void Release();
  bool Held() const { return fd_ >= 0; }

  // OPOS_LOCK_DIR when set; else /run/lock/opos (created by root when
  // missing: root, group opos, 2770); else, when that cannot be written,
  // $XDG_RUNTIME_DIR/opos-locks (0700). Never writable by other users.
  // Empty, with *why, when none can be used.
  static std::string Directory(std::string* why = nullptr);
  // The lock file's name for a device number, within Directory().
  static std::string FileName(uint64_t rdev);

 private:
#ifdef _WIN32
  intptr_t fd_ = -1;  // HANDLE of the named section that is the lock
#else
  int fd_ = -1;
#endif
};

}  // namespace opos::platform
