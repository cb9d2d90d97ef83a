#include "transport/serial/serial_port.h"

#include <algorithm>
#include <cerrno>

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/port_names.h"
#include "platform/serial_io.h"

namespace opos {

namespace {

constexpr PortProfile kSerialProfile{
    .chunkLimitMs = 1000,
    .chunkPauseMs = 0,
    .slowPassMs = 500,
    .fastPassMs = 50,
    .resendPauseMs = 100,
    .settleMs = 500,
    .readWaitMs = 0,
    .imagesLostOnWriteFailure = false,
};

constexpr int kReportWaitMs = 100;  // for the reply to GS a 255 at claim

}  // namespace

CSerialPort::CSerialPort() : CPortBase(kSerialProfile) {}

CSerialPort::~CSerialPort() {
  CloseBeforeDestruction();
}

int CSerialPort::Open(const DeviceConfig& config) {
  if (opened.load() != 0) return 1;
  platform::SerialLine line;
  if (!SerialLineFromCodes(config, &line)) {
    SetFailureDetail("Baudrate, Parity or Stop code outside the tables");
    return 0;
  }
  std::string path = platform::ResolvePortName(config.Port);
  if (path.empty()) {
    SetFailureDetail("port \"" + config.Port + "\" names no device (COMn or an absolute path)");
    return 0;
  }
  bitsPerSecond_.store(line.bitsPerSecond);
  bool ok = AttachDevice(path, [&line](int fd, std::string* why) {
    if (platform::ConfigureSerialLine(fd, line)) return true;
    const int err = errno;
    *why = err == ENOTTY ? "not a terminal" : "line settings refused: " + platform::ErrorText(err);
    return false;
  });
  return ok ? 1 : 0;
}

int32_t CSerialPort::StartMonitor(uint32_t limitMs) {
  if (opened.load() == 0 || StatusReaderRunning()) return OPOS_E_ILLEGAL;
  ResetStatusCells();
  monitoring.store(1);
  // The whole first report counts: a printer claimed with its cover open
  // sends no other report until the cover state changes.
  RequestStatusReport(kReportWaitMs);
  return StartStatusReader() ? 0 : OPOS_E_FAILURE;
}

int32_t CSerialPort::DrawerCheckReady() {
  // ClaimDevice links the drawer before Open, so it is always there while open.
  if (drawer.load() == nullptr) {
    errorLatched.store(1);
    return OPOS_E_ILLEGAL;
  }
  // drawerSensorLow is left as the last ASB report gave it: this object's own
  // status reader keeps it current, also without a printer service.
  return SettleAndAnswerReady();
}

bool CSerialPort::CtsOn() {
  int fd = DeviceHandle();
  return fd < 0 || platform::SerialCtsOn(fd);
}

bool CSerialPort::LineDown(int fd) {
  return !platform::SerialCtsOn(fd);
}

bool CSerialPort::FinishWrite(int fd) {
  // A completed write means the bytes left the port. The line gets the chunk
  // limit to make progress, and no longer in all than the kernel's whole
  // output queue takes at the line's rate.
  constexpr int kKernelQueueBytes = 4096;
  const int bps = std::max(bitsPerSecond_.load(), 1);
  const int totalMs = kSerialProfile.chunkLimitMs + static_cast<int>(kKernelQueueBytes * 10LL * 1000 / bps);
  if (!platform::DrainOutputWithin(fd, kSerialProfile.chunkLimitMs, totalMs)) {
    SetFailureDetail("write to " + OpenPath() + ": the output did not leave the port within the time limit");
    return false;
  }
  // Bytes sent to a printer that lost power meanwhile went nowhere.
  if (LineDown(fd)) {
    SetFailureDetail("write to " + OpenPath() + ": CTS dropped (printer switched off or cable pulled)");
    return false;
  }
  return true;
}

bool SerialLineFromCodes(const DeviceConfig& config, platform::SerialLine* line) {
  static constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  if (config.Baudrate < 3 || config.Baudrate > 10) return false;
  line->bitsPerSecond = kRates[config.Baudrate - 3];
  switch (config.Parity) {
    case 0:
      line->parity = platform::SerialParity::kNone;
      break;
    case 1:
      line->parity = platform::SerialParity::kEven;
      break;
    case 2:
      line->parity = platform::SerialParity::kOdd;
      break;
    default:
      return false;
  }
  if (config.Stop != 1 && config.Stop != 2) return false;
  line->stopBits = config.Stop;
  return true;
}

std::unique_ptr<CPortObject> CreateSerialPort() {
  return std::make_unique<CSerialPort>();
}

}  // namespace opos
