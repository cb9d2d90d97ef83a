#include "transport/serial/serial_port.h"

#include "common/opos.h"
#include "platform/clock.h"
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

CSerialPort::~CSerialPort() { CloseBeforeDestruction(); }

int CSerialPort::Open(const DeviceConfig& config) {
  if (opened.load() != 0) return 1;
  platform::SerialLine line;
  if (!SerialLineFromCodes(config, &line)) return 0;
  std::string path = platform::ResolvePortName(config.Port);
  if (path.empty()) return 0;
  bool ok = AttachDevice(path, [&line](const std::string& device) {
    int fd = platform::OpenCharDevice(device);
    if (fd >= 0 && !platform::ConfigureSerialLine(fd, line)) {
      platform::CloseDevice(fd);
      fd = -1;
    }
    return fd;
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

bool CSerialPort::LineDown(int fd) { return !platform::SerialCtsOn(fd); }

bool CSerialPort::FinishWrite(int fd) { return platform::DrainOutput(fd); }

bool SerialLineFromCodes(const DeviceConfig& config, platform::SerialLine* line) {
  static constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  if (config.Baudrate < 3 || config.Baudrate > 10) return false;
  line->bitsPerSecond = kRates[config.Baudrate - 3];
  switch (config.Parity) {
    case 0: line->parity = platform::SerialParity::kNone; break;
    case 1: line->parity = platform::SerialParity::kEven; break;
    case 2: line->parity = platform::SerialParity::kOdd; break;
    default: return false;
  }
  if (config.Stop != 1 && config.Stop != 2) return false;
  line->stopBits = config.Stop;
  return true;
}

std::unique_ptr<CPortObject> CreateSerialPort() { return std::make_unique<CSerialPort>(); }

}  // namespace opos
