#include "platform/port_lock.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/win_api.h"

namespace opos::platform {

namespace {

constexpr DWORD kNoteSize = 256;

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

}  // namespace

std::string PortLock::Directory(std::string* why) {
  (void)why;
  return "Local\\";
}

std::string PortLock::FileName(uint64_t rdev) {
  char name[48];
  std::snprintf(name, sizeof name, "opos-port-%016llx", static_cast<unsigned long long>(rdev));
  return name;
}

bool PortLock::TryAcquire(uint64_t rdev, std::string* why) {
  Release();
  const std::string name = Directory() + FileName(rdev);
  // The section exists exactly while a holder has it open: the system drops
  // it with the holder's last handle, also when the holder dies.
  HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kNoteSize, name.c_str());
  if (h == nullptr) {
    SetWhy(why, "lock " + name + ": " + win32::Win32ErrorText(GetLastError()));
    return false;
  }
  const bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
  char* note = static_cast<char*>(MapViewOfFile(h, taken ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, kNoteSize));
  if (taken) {
    std::string holder = note ? std::string(note, strnlen(note, kNoteSize)) : std::string();
    SetWhy(why, holder.empty() ? "held by another process" : "held by process " + holder);
    if (note) UnmapViewOfFile(note);
    CloseHandle(h);
    return false;
  }
  if (note) {
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, sizeof program);
    const char* base = std::strrchr(program, '\\');
    std::snprintf(note, kNoteSize, "%lu (%s)", GetCurrentProcessId(), base ? base + 1 : program);
    UnmapViewOfFile(note);
  }
  fd_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void PortLock::Release() {
  if (fd_ >= 0) {
    CloseHandle(reinterpret_cast<HANDLE>(fd_));
    fd_ = -1;
  }
}

}  // namespace opos::platform
