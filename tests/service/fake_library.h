// The service code linked straight into the test, with a profile the test
// chooses and a port object that only counts what is asked of it.
#pragma once

#include <atomic>

#include "common/port_object.h"
#include "service/library_profile.h"

namespace opos::test {

class FakePort : public CPortObject {
 public:
  int Open(const DeviceConfig&) override {
    opens.fetch_add(1);
    if (!openSucceeds.load()) return 0;
    opened = 1;
    return 1;
  }
  int32_t StartMonitor(uint32_t) override { return startMonitorResult.load(); }
  int Write(const uint8_t*, size_t n) override { return n > 0 && opened.load() ? 1 : 0; }
  int Read(uint8_t*, size_t) override { return 0; }
  int32_t CheckReady() override { return 0; }
  void Close() override {
    closes.fetch_add(1);
    opened = 0;
  }

  static inline std::atomic<int> opens{0};
  static inline std::atomic<int> closes{0};
  static inline std::atomic<bool> openSucceeds{true};
  static inline std::atomic<int32_t> startMonitorResult{0};
  static void Reset() {
    opens = 0;
    closes = 0;
    openSucceeds = true;
    startMonitorResult = 0;
  }
};

// The profile ThisLibrary() returns; tests switch it before creating objects.
LibraryProfile& TestProfile();
void UseProfile(TransportKind kind);

}  // namespace opos::test
