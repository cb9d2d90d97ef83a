// The machine's serial devices from sysfs (root as in usb_enum.h): the
// 8250-style UARTs that really exist (/dev/ttyS* whose sysfs "type" is not
// 0, "unknown"), USB-serial adapters (/dev/ttyUSB*) and CDC-ACM devices
// (/dev/ttyACM*), with their stable /dev/serial/by-id names and the USB
// device's vendor and product.
#pragma once

#include <string>
#include <vector>

namespace opos::platform {

struct SerialDevice {
  std::string path;               // "/dev/ttyUSB0"
  std::vector<std::string> byId;  // links in the by-id folder that reach it
  std::string vendorId;           // USB only: "0403"
  std::string productId;          // "6001"
  std::string description;        // "FTDI FT232R USB UART", or "UART" for ttyS*
};

// In name order (ttyACM*, ttyS*, ttyUSB*, numbers compared as numbers). The
// by-id folder is $OPOS_SERIAL_BY_ID_DIR when set, else /dev/serial/by-id.
std::vector<SerialDevice> EnumerateSerialDevices();

}  // namespace opos::platform
