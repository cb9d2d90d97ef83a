// Reading files that a user or a configuration names (bitmaps, model
// definition files): only regular files, opened without blocking, so that a
// FIFO or a device given in their place is refused instead of hanging the
// caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace opos::platform {

class RegularFile {
 public:
  enum class Status { kOk, kCannotOpen, kNotRegular };

  RegularFile() = default;
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  [[nodiscard]] Status Open(const std::string& path);
  // Size when opened.
  [[nodiscard]] uint64_t Size() const { return size_; }
  // Reads exactly n bytes; false on end of file or error.
  [[nodiscard]] bool ReadFully(void* buffer, size_t n);

 private:
#ifdef _WIN32
  intptr_t fd_ = -1;  // the file's HANDLE
#else
  int fd_ = -1;
#endif
  uint64_t size_ = 0;
};

// Whether anything exists at path (links followed).
[[nodiscard]] bool PathExists(const std::string& path);

// The folder of the running program; empty when it cannot be told.
[[nodiscard]] std::string ProgramDirectory();

}  // namespace opos::platform
