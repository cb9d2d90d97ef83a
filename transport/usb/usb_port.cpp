#include "transport/usb/usb_port.h"

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/usb_enum.h"

namespace opos {

namespace {

constexpr PortProfile kUsbProfile{
    .chunkLimitMs = 500,
    .chunkPauseMs = 20,
    .slowPassMs = 50,
    .fastPassMs = 5,
    .resendPauseMs = 10,
    .settleMs = 50,
    .readWaitMs = 10,
    .imagesLostOnWriteFailure = true,
};

constexpr int kAfterReadyWaitMs = 50;
constexpr int kReportWaitMs = 5;
constexpr int kAfterStartMs = 50;
constexpr int kDrawerReplyWaitMs = 20;

}  // namespace

CUsbPort::CUsbPort() : CPortBase(kUsbProfile) {}

CUsbPort::~CUsbPort() { CloseBeforeDestruction(); }

int CUsbPort::Open(const DeviceConfig& config) {
  if (opened.load() != 0) return 1;
  if (config.Port.empty()) return 0;  // added in the setup tool but never bound to a socket
  std::string path = usb::ResolveUsbDevicePath(config.Port);
  if (path.empty()) return 0;
  return AttachDevice(path, [](const std::string& device) { return platform::OpenCharDevice(device); }) ? 1 : 0;
}

int32_t CUsbPort::StartMonitor(uint32_t limitMs) {
  if (opened.load() == 0 || StatusReaderRunning()) return OPOS_E_ILLEGAL;
  ResetStatusCells();
  monitoring.store(0);
  timeoutMs = limitMs;
  if (IsDrawerSide()) {
    int32_t code = WaitForPrinterReady(limitMs, kAfterReadyWaitMs);
    if (code != 0) return code;
    monitoring.store(1);
    return 0;
  }
  monitoring.store(1);
  RequestStatusReport(kReportWaitMs);
  if (!StartStatusReader()) return OPOS_E_FAILURE;
  platform::SleepMs(kAfterStartMs);
  return 0;
}

int32_t CUsbPort::DrawerCheckReady() { return AskDrawerState(kDrawerReplyWaitMs); }

std::unique_ptr<CPortObject> CreateUsbPort() { return std::make_unique<CUsbPort>(); }

}  // namespace opos
