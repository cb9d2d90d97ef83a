// CUsbPort: the port object of usbso, on the kernel's USB printer-class
// device (/dev/usb/lpN) that serves the USB socket the configuration names.
#pragma once

#include <memory>

#include "transport/port_base.h"

namespace opos {

class CUsbPort final : public CPortBase {
 public:
  CUsbPort();
  ~CUsbPort() override;

  // Open: the configured "SymbolicLink" (DeviceConfig::Port): a device path
  // written by the setup tool ("usb:1-1.4"), resolved to the printer's
  // character device now, or an absolute path to a character device. Empty,
  // unplugged or not served by a printer driver: 0.
  int Open(const DeviceConfig& config) override;
  // As the parallel port, with USB's shorter waits.
  int32_t StartMonitor(uint32_t timeoutMs) override;

 protected:
  int32_t DrawerCheckReady() override;
};

[[nodiscard]] std::unique_ptr<CPortObject> CreateUsbPort();

}  // namespace opos
