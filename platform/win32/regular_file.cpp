#include "platform/regular_file.h"

#include "platform/win32/win_api.h"

namespace opos::platform {

namespace {

HANDLE AsHandle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

}  // namespace

RegularFile::~RegularFile() {
  if (fd_ >= 0) CloseHandle(AsHandle(fd_));
}

RegularFile::Status RegularFile::Open(const std::string& path) {
  if (fd_ >= 0) CloseHandle(AsHandle(fd_));
  fd_ = -1;
  size_ = 0;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Status::kCannotOpen;
  LARGE_INTEGER size{};
  // A device or pipe named in a file's place is refused, never read from.
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
    CloseHandle(h);
    return Status::kNotRegular;
  }
  fd_ = reinterpret_cast<intptr_t>(h);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return Status::kOk;
}

bool RegularFile::ReadFully(void* buffer, size_t n) {
  auto* at = static_cast<uint8_t*>(buffer);
  while (n > 0) {
    if (fd_ < 0) return false;
    DWORD got = 0;
    const DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    if (!ReadFile(AsHandle(fd_), at, want, &got, nullptr) || got == 0) return false;
    at += got;
    n -= got;
  }
  return true;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ProgramDirectory() {
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return {};
  std::string path(buf, n);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace opos::platform
