// Device I/O on Windows: COM ports, LPT ports and USB printer interfaces
// opened for overlapped I/O, so a write has a time limit (cancelled when it
// runs out) and a read can be waited for beside the layer's signals.
#include "platform/device_io.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

#include "platform/pollable_event.h"
#include "platform/win32/device_table.h"

namespace opos::platform {

using win32::OpenDevice;

namespace {

std::mutex gTableLock;
std::map<int, std::shared_ptr<OpenDevice>> gTable;  // under gTableLock
int gNextFd = 3;                                    // under gTableLock

// FNV-1a: two names that reach one device give one identity.
uint64_t Hash(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= static_cast<uint64_t>(std::toupper(c));
    h *= 1099511628211ull;
  }
  return h;
}

// "COM1" for "\\.\COM1" or "COM1"; empty when path is not such a name.
std::string DosDeviceName(const std::string& path) {
  std::string name = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) return {};
  return name;
}

void SetErrnoFromLastError() {
  errno = win32::ErrnoFromWin32(GetLastError());
}

}  // namespace

namespace win32 {

OpenDevice::~OpenDevice() {
  if (handle != INVALID_HANDLE_VALUE) {
    CancelIoEx(handle, nullptr);
    DWORD n = 0;
    if (readPending) GetOverlappedResult(handle, &readOv, &n, TRUE);
    CloseHandle(handle);
  }
  if (readOv.hEvent) CloseHandle(readOv.hEvent);
}

std::shared_ptr<OpenDevice> FindDevice(int fd) {
  std::lock_guard<std::mutex> g(gTableLock);
  auto it = gTable.find(fd);
  return it == gTable.end() ? nullptr : it->second;
}

void CollectAndRead(OpenDevice& dev) {
  DWORD n = 0;
  if (dev.readPending) {
    if (GetOverlappedResult(dev.handle, &dev.readOv, &n, FALSE)) {
      dev.ready.insert(dev.ready.end(), dev.readBuffer, dev.readBuffer + n);
      dev.readPending = false;
    } else if (GetLastError() != ERROR_IO_INCOMPLETE) {
      const DWORD err = GetLastError();
      dev.readPending = false;
      if (err != ERROR_OPERATION_ABORTED) dev.readError = err;
    }
  }
  if (dev.readPending || !dev.ready.empty() || dev.readError != 0) return;
  ResetEvent(dev.readOv.hEvent);
  if (ReadFile(dev.handle, dev.readBuffer, sizeof dev.readBuffer, nullptr, &dev.readOv)) {
    if (GetOverlappedResult(dev.handle, &dev.readOv, &n, FALSE)) {
      dev.ready.insert(dev.ready.end(), dev.readBuffer, dev.readBuffer + n);
    }
  } else if (GetLastError() == ERROR_IO_PENDING) {
    dev.readPending = true;
  } else {
    dev.readError = GetLastError();
  }
}

}  // namespace win32

bool IdentifyDevice(const std::string& path, DeviceIdentity* out) {
  if (path.empty()) return false;
  const std::string name = DosDeviceName(path);
  char target[1024];
  if (!name.empty() && QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) {
    *out = DeviceIdentity{true, Hash(target), 0};
    return true;
  }
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) {
    // A device interface path: whether it is there shows at the open.
    *out = DeviceIdentity{true, Hash(path), 0};
    return true;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    SetErrnoFromLastError();
    return false;
  }
  *out = DeviceIdentity{false, Hash(path), 0};
  return true;
}

bool IdentifyOpenDevice(int fd, DeviceIdentity* out) {
  auto dev = win32::FindDevice(fd);
  if (!dev) {
    errno = EBADF;
    return false;
  }
  *out = dev->identity;
  return true;
}

int OpenCharDevice(const std::string& path) {
  DeviceIdentity id;
  if (!IdentifyDevice(path, &id)) return -1;
  const std::string name = DosDeviceName(path);
  const std::string openName = name.empty() ? path : "\\\\.\\" + name;
  // No sharing: a port belongs to one process at a time, as Windows gives it.
  HANDLE h = CreateFileA(openName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetErrnoFromLastError();
    return -1;
  }
  auto dev = std::make_shared<OpenDevice>();
  dev->handle = h;
  dev->identity = id;
  dev->readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dev->comm = GetCommState(h, &dcb) != FALSE;
  if (dev->comm) {
    // The outstanding read waits for the first byte for as long as it takes,
    // then ends at the first pause in the line: the callers keep their own
    // time limits by waiting for it, and take what came.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 5;
    SetCommTimeouts(h, &t);
  }
  if (!dev->readOv.hEvent) {
    SetErrnoFromLastError();
    return -1;  // dev closes the handle
  }
  std::lock_guard<std::mutex> g(gTableLock);
  const int fd = gNextFd++;
  gTable[fd] = std::move(dev);
  return fd;
}

WriteResult WriteWithin(int fd, const uint8_t* bytes, size_t length, int timeoutMs) {
  WriteResult result;
  auto dev = win32::FindDevice(fd);
  if (!dev) return {IoStatus::kLost, 0};
  while (result.written < length) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ov.hEvent) return {IoStatus::kFailed, result.written};
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length - result.written, 1u << 20));
    DWORD n = 0;
    BOOL ok = WriteFile(dev->handle, bytes + result.written, chunk, nullptr, &ov);
    DWORD err = ok ? 0 : GetLastError();
    bool timedOut = false;
    if (!ok && err == ERROR_IO_PENDING) {
      if (WaitForSingleObject(ov.hEvent, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) ==
          WAIT_TIMEOUT) {
        CancelIoEx(dev->handle, &ov);
        timedOut = true;
      }
      ok = GetOverlappedResult(dev->handle, &ov, &n, TRUE);
      err = ok ? 0 : GetLastError();
    } else if (ok) {
      GetOverlappedResult(dev->handle, &ov, &n, TRUE);
    }
    CloseHandle(ov.hEvent);
    result.written += n;
    if (timedOut || err == ERROR_OPERATION_ABORTED || err == ERROR_SEM_TIMEOUT) {
      if (result.written < length) result.status = IoStatus::kTimedOut;
      return result;
    }
    if (!ok) {
      errno = win32::ErrnoFromWin32(err);
      result.status = ClassifyDeviceError(errno);
      return result;
    }
    if (n == 0) {
      result.status = IoStatus::kTimedOut;
      return result;
    }
  }
  return result;
}

WriteResult WriteWhileTaken(int fd, const uint8_t* bytes, size_t length, int stallLimitMs) {
  // An overlapped write completes whole, so progress is seen per piece.
  constexpr size_t kPiece = 4096;
  WriteResult result;
  while (result.written < length) {
    const size_t n = std::min(kPiece, length - result.written);
    WriteResult r = WriteWithin(fd, bytes + result.written, n, stallLimitMs);
    result.written += r.written;
    if (r.status != IoStatus::kOk) {
      result.status = r.status;
      return result;
    }
  }
  return result;
}

ReadResult ReadWaiting(int fd, uint8_t* buffer, size_t maxBytes, int waitMs) {
  auto dev = win32::FindDevice(fd);
  if (!dev) return {IoStatus::kLost, 0};
  std::unique_lock<std::mutex> g(dev->lock);
  win32::CollectAndRead(*dev);
  if (dev->ready.empty() && dev->readError == 0 && dev->readPending && waitMs > 0) {
    g.unlock();
    WaitForSingleObject(dev->readOv.hEvent, static_cast<DWORD>(waitMs));
    g.lock();
    win32::CollectAndRead(*dev);
  }
  if (!dev->ready.empty()) {
    const size_t n = std::min(maxBytes, dev->ready.size());
    std::copy_n(dev->ready.begin(), n, buffer);
    dev->ready.erase(dev->ready.begin(), dev->ready.begin() + static_cast<std::ptrdiff_t>(n));
    // Start the next read at once, so bytes keep arriving into the entry.
    if (dev->ready.empty()) win32::CollectAndRead(*dev);
    return {IoStatus::kOk, n};
  }
  if (dev->readError != 0) {
    errno = win32::ErrnoFromWin32(dev->readError);
    return {ClassifyDeviceError(errno), 0};
  }
  return {IoStatus::kOk, 0};
}

InputWait WaitForInput(int deviceFd, std::initializer_list<const PollableEvent*> signals, int timeoutMs) {
  InputWait result;
  std::vector<HANDLE> handles;
  std::shared_ptr<OpenDevice> dev = deviceFd >= 0 ? win32::FindDevice(deviceFd) : nullptr;
  if (deviceFd >= 0 && !dev) {
    result.input = true;  // a closed device: the caller's read finds out
    return result;
  }
  if (dev) {
    std::lock_guard<std::mutex> g(dev->lock);
    win32::CollectAndRead(*dev);
    if (!dev->ready.empty() || dev->readError != 0) {
      result.input = true;
    } else if (dev->readPending) {
      handles.push_back(dev->readOv.hEvent);
    }
  }
  for (const PollableEvent* s : signals) {
    handles.push_back(static_cast<HANDLE>(s->Handle()));
    result.signalled = result.signalled || s->IsSet();
  }
  if (result.input || result.signalled) return result;
  if (!handles.empty()) {
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                           timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  } else if (timeoutMs != 0) {
    Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  }
  for (const PollableEvent* s : signals) result.signalled = result.signalled || s->IsSet();
  if (dev) {
    // Input only when bytes came (or the device failed), not on a wake-up alone.
    std::lock_guard<std::mutex> g(dev->lock);
    win32::CollectAndRead(*dev);
    result.input = !dev->ready.empty() || dev->readError != 0;
  }
  return result;
}

void CloseDevice(int fd) {
  std::shared_ptr<OpenDevice> dev;
  {
    std::lock_guard<std::mutex> g(gTableLock);
    auto it = gTable.find(fd);
    if (it == gTable.end()) return;
    dev = std::move(it->second);
    gTable.erase(it);
  }
  // The port is given back now, even while another thread still holds the
  // entry in a wait: its read ends with the cancel.
  std::lock_guard<std::mutex> g(dev->lock);
  CancelIoEx(dev->handle, nullptr);
  DWORD n = 0;
  if (dev->readPending) GetOverlappedResult(dev->handle, &dev->readOv, &n, TRUE);
  dev->readPending = false;
  CloseHandle(dev->handle);
  dev->handle = INVALID_HANDLE_VALUE;
  SetEvent(dev->readOv.hEvent);
}

}  // namespace opos::platform
