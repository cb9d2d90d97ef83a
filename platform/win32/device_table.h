// The open devices of this copy of the layer. The int a caller holds names an
// entry here; the entry keeps the overlapped handle and the one read that may
// be outstanding on it, whose bytes wait in the entry until a caller takes them.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/device_io.h"
#include "platform/win32/win_api.h"

namespace opos::platform::win32 {

struct OpenDevice {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool comm = false;  // a serial port (the comm functions work on it)
  DeviceIdentity identity;

  std::mutex lock;      // the fields below
  OVERLAPPED readOv{};  // hEvent: manual reset, set when the read is over
  bool readPending = false;
  uint8_t readBuffer[512];
  std::vector<uint8_t> ready;  // bytes read and not yet taken
  DWORD readError = 0;         // what ended reading (0: nothing)

  ~OpenDevice();
};

// The entry for fd, or null when fd is not open.
std::shared_ptr<OpenDevice> FindDevice(int fd);

// Under dev.lock: takes a finished read's bytes, then starts the next read
// when none is outstanding and nothing waits to be taken.
void CollectAndRead(OpenDevice& dev);

}  // namespace opos::platform::win32
