#include "transport/parallel/parallel_port.h"

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/port_names.h"

namespace opos {

namespace {

constexpr PortProfile kParallelProfile{
    .chunkLimitMs = 500,
    .chunkPauseMs = 20,
    .slowPassMs = 500,
    .fastPassMs = 50,
    .resendPauseMs = 100,
    .settleMs = 500,
    .readWaitMs = 0,
    .imagesLostOnWriteFailure = true,
};

constexpr int kAfterReadyWaitMs = 500;
constexpr int kReportWaitMs = 50;
constexpr int kAfterStartMs = 500;
constexpr int kDrawerReplyWaitMs = 200;

}  // namespace

CParallelPort::CParallelPort() : CPortBase(kParallelProfile) {}

CParallelPort::~CParallelPort() { CloseBeforeDestruction(); }

int CParallelPort::Open(const DeviceConfig& config) {
  if (opened.load() != 0) return 1;
  std::string path = platform::ResolvePortName(config.Port.empty() ? "LPT1" : config.Port);
  if (path.empty()) return 0;
  return AttachDevice(path, [](const std::string& device) { return platform::OpenCharDevice(device); }) ? 1 : 0;
}

int32_t CParallelPort::StartMonitor(uint32_t limitMs) {
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

int32_t CParallelPort::DrawerCheckReady() { return AskDrawerState(kDrawerReplyWaitMs); }

std::unique_ptr<CPortObject> CreateParallelPort() { return std::make_unique<CParallelPort>(); }

}  // namespace opos
