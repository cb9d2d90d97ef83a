// CParallelPort: the port object of parallelso, on the kernel's parallel
// printer device (/dev/lpN, or what an "LPTn" link names).
#pragma once

#include <memory>

#include "transport/printer_class_port.h"

namespace opos {

class CParallelPort final : public CPrinterClassPort {
 public:
  CParallelPort();
  ~CParallelPort() override;

 protected:
  // The configured "Port" ("LPTn" or a device path; empty is "LPT1").
  std::string DevicePath(const DeviceConfig& config, std::string* why) const override;
};

[[nodiscard]] std::unique_ptr<CPortObject> CreateParallelPort();

}  // namespace opos
