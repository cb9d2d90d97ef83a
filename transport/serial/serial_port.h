// CSerialPort: the port object of serialso, on a termios serial port.
#pragma once

#include <atomic>
#include <memory>

#include "platform/serial_io.h"
#include "transport/port_base.h"

namespace opos {

class CSerialPort final : public CPortBase {
 public:
  CSerialPort();
  ~CSerialPort() override;

  // Open: the configured "Port" ("COMn" or a device path) with the Baudrate,
  // Parity and Stop codes; 8 data bits, no flow control, DTR and RTS on. Any
  // code outside the tables fails (0).
  int Open(const DeviceConfig& config) override;
  // Enables ASB (GS a 255), takes the first report and starts this object's
  // status reader. Printer and drawer side alike; 0, or 106 when not open.
  int32_t StartMonitor(uint32_t timeoutMs) override;
  bool CtsOn() override;

 protected:
  int32_t DrawerCheckReady() override;
  bool LineDown(int fd) override;
  bool FinishWrite(int fd) override;

 private:
  std::atomic<int> bitsPerSecond_{9600};
};

[[nodiscard]] std::unique_ptr<CPortObject> CreateSerialPort();

// The line the Baudrate, Parity and Stop codes ask for; false for a code
// outside the tables.
[[nodiscard]] bool SerialLineFromCodes(const DeviceConfig& config, platform::SerialLine* line);

}  // namespace opos
