// What distinguishes the three Service Object libraries, as data. Each library
// hands its profile to the shared service code; nothing is forked per library.
#pragma once

#include <cstdint>
#include <memory>

#include "common/port_object.h"
#include "platform/dispatch.h"

namespace opos {

enum class TransportKind { Serial, Parallel, Usb };

struct LibraryProfile {
  const char* name;  // "serialso", "parallelso", "usbso"
  TransportKind transport;
  const char* printerProgId;
  const char* drawerProgId;
  com::Guid printerClsid;
  com::Guid drawerClsid;
  int32_t printerVersion;  // ServiceObjectVersion
  int32_t drawerVersion;
  int32_t minClaimTimeoutMs;        // ClaimDevice raises its timeout to this
  int releasePumpWaitsPrinter;      // PumpWaits after the port's Close on printer release
  int32_t printerErrorStationInit;  // initial ErrorStation
  std::unique_ptr<CPortObject> (*createPort)();
};

// The profile of the library this code is linked into.
const LibraryProfile& ThisLibrary();

}  // namespace opos
