// CParallelPort: the port object of parallelso, on the kernel's parallel
// printer device (/dev/lpN, or what an "LPTn" link names).
#pragma once

#include <memory>

#include "transport/port_base.h"

namespace opos {

class CParallelPort final : public CPortBase {
 public:
  CParallelPort();
  ~CParallelPort() override;

  // Open: the configured "Port" ("LPTn" or a device path; empty is "LPT1").
  int Open(const DeviceConfig& config) override;
  // Drawer side: waits (up to timeoutMs) for a printer service on this port
  // that is not ready, answering 201, 203 or 106 if it stays so; starts
  // nothing. Printer side: enables ASB, takes the first report, starts the
  // status reader.
  int32_t StartMonitor(uint32_t timeoutMs) override;

 protected:
  int32_t DrawerCheckReady() override;
};

[[nodiscard]] std::unique_ptr<CPortObject> CreateParallelPort();

}  // namespace opos
