#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace opos::platform {

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

RegularFile::Status RegularFile::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  size_ = 0;
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return Status::kCannotOpen;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return Status::kNotRegular;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return Status::kOk;
}

bool RegularFile::ReadFully(void* buffer, size_t n) {
  auto* at = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    if (fd_ < 0) return false;
    const ssize_t got = ::read(fd_, at, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string ProgramDirectory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace opos::platform
