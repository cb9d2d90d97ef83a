// A cross-process lock on one kind of service ("printer", "drawer") on one
// port device: flock on a lock file named from the device's real path. The
// kernel drops it when its holder dies, so a crashed application never
// leaves a port blocked.
#pragma once

#include <string>

namespace opos::platform {

class PortLock {
 public:
  PortLock() = default;
  ~PortLock() { Release(); }
  PortLock(PortLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // Takes the lock without waiting. False when another holder (in this or any
  // process) has it, or when the device or the lock file cannot be reached.
  [[nodiscard]] bool TryAcquire(const std::string& devicePath, const std::string& kind);
  void Release();
  bool Held() const { return fd_ >= 0; }

  // OPOS_LOCK_DIR, else /tmp/opos-locks: one folder for every user, since a
  // port is shared by whoever can open it.
  static std::string Directory();
  // The lock file for a device's real path and a kind.
  static std::string FileFor(const std::string& realDevicePath, const std::string& kind);

 private:
  int fd_ = -1;
};

}  // namespace opos::platform
