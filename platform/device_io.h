// Non-blocking I/O on the character devices that reach a printer (serial
// ports, pseudo-terminals, /dev/lpN, /dev/usb/lpN): open, identity, a write
// with a time limit and a read of what is waiting. errno is mapped to an
// IoStatus in exactly one place (ClassifyDeviceError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace opos::platform {

enum class IoStatus {
  kOk,
  kTimedOut,  // the device did not take (or give) the bytes within the limit
  kLost,      // the device is gone or hung up (ENODEV, EIO, hang-up)
  kFailed,    // any other error
};

// The only mapping from errno to IoStatus.
[[nodiscard]] IoStatus ClassifyDeviceError(int err);
// errno as text, for failure causes (thread-safe, unlike strerror).
[[nodiscard]] std::string ErrorText(int err);

// Identity of a device: the device number for a character device (so two
// nodes or links that reach one device compare equal), else device and inode.
struct DeviceIdentity {
  bool charDevice = false;
  uint64_t major = 0;  // st_rdev for a character device, else st_dev
  uint64_t minor = 0;  // 0 for a character device, else st_ino
  bool operator==(const DeviceIdentity&) const = default;
};

// What path names, links followed. False when it does not exist.
[[nodiscard]] bool IdentifyDevice(const std::string& path, DeviceIdentity* out);
[[nodiscard]] bool IdentifyOpenDevice(int fd, DeviceIdentity* out);

// Opens for reading and writing, non-blocking, close-on-exec, never as the
// controlling terminal. Returns the descriptor or -1 (errno kept).
[[nodiscard]] int OpenCharDevice(const std::string& path);

// Writes all of bytes within timeoutMs; written receives the count the device
// took (also on failure). Never blocks past the limit.
struct WriteResult {
  IoStatus status = IoStatus::kOk;
  size_t written = 0;
};
[[nodiscard]] WriteResult WriteWithin(int fd, const uint8_t* bytes, size_t length, int timeoutMs);
// Writes all of bytes in as few writes as the device allows; fails when the
// device takes nothing for stallLimitMs (each write the device takes is held
// to the limit on its own).
[[nodiscard]] WriteResult WriteWhileTaken(int fd, const uint8_t* bytes, size_t length, int stallLimitMs);

// Reads what is waiting, up to maxBytes; waits at most waitMs (0: not at all)
// for the first byte. Nothing waiting is kOk with count 0. Bytes that arrived
// before a hang-up are still returned; the next call reports kLost.
struct ReadResult {
  IoStatus status = IoStatus::kOk;
  size_t count = 0;
};
[[nodiscard]] ReadResult ReadWaiting(int fd, uint8_t* buffer, size_t maxBytes, int waitMs);

void CloseDevice(int fd);

}  // namespace opos::platform
