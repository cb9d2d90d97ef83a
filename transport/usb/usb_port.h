// CUsbPort: the port object of usbso, on the kernel's USB printer-class
// device (/dev/usb/lpN) that serves the USB socket the configuration names.
#pragma once

#include <memory>

#include "transport/printer_class_port.h"

namespace opos {

class CUsbPort final : public CPrinterClassPort {
 public:
  CUsbPort();
  ~CUsbPort() override;

 protected:
  // The configured "SymbolicLink" (DeviceConfig::Port): a device path written
  // by the setup tool ("usb:1-1.4"), resolved to the printer's character
  // device now, or an absolute path to a character device. Empty, unplugged
  // or not served by a printer driver: "".
  std::string DevicePath(const DeviceConfig& config, std::string* why) const override;
};

[[nodiscard]] std::unique_ptr<CPortObject> CreateUsbPort();

}  // namespace opos
