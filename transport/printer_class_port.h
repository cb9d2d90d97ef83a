// CPrinterClassPort: what the parallel and USB port objects share. Both talk
// to a kernel printer-class character device; they differ only in how the
// configured port becomes a device path and in their waits.
#pragma once

#include <string>

#include "transport/port_base.h"

namespace opos {

struct PrinterClassTimings {
  PortProfile port;
  int afterReadyWaitMs;   // drawer side: after the printer turned ready
  int reportWaitMs;       // printer side: for the reply to the status request
  int afterStartMs;       // printer side: after the status reader started
  int drawerReplyWaitMs;  // drawer side: for the reply to DLE EOT
};

class CPrinterClassPort : public CPortBase {
 public:
  explicit CPrinterClassPort(const PrinterClassTimings& timings)
      : CPortBase(timings.port), timings_(timings) {}

  // Open: the device the configured port names (DevicePath); 0 when it names none.
  int Open(const DeviceConfig& config) override;
  // Drawer side: waits (up to timeoutMs) for a printer service on this port
  // that is not ready, answering 201, 203 or 106 if it stays so; starts
  // nothing. Printer side: enables ASB, takes the first report, starts the
  // status reader.
  int32_t StartMonitor(uint32_t timeoutMs) override;

 protected:
  // The character device for the configured port, or "" with *why when there is none.
  virtual std::string DevicePath(const DeviceConfig& config, std::string* why) const = 0;
  int32_t DrawerCheckReady() override;

 private:
  const PrinterClassTimings timings_;
};

}  // namespace opos
