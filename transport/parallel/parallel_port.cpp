#include "transport/parallel/parallel_port.h"

#include "platform/port_names.h"

namespace opos {

namespace {

constexpr PrinterClassTimings kParallelTimings{
    .port =
        {
            .chunkLimitMs = 500,
            .chunkPauseMs = 20,
            .slowPassMs = 500,
            .fastPassMs = 50,
            .resendPauseMs = 100,
            .settleMs = 500,
            .readWaitMs = 0,
            .imagesLostOnWriteFailure = true,
        },
    .afterReadyWaitMs = 500,
    .reportWaitMs = 50,
    .afterStartMs = 500,
    .drawerReplyWaitMs = 200,
};

}  // namespace

CParallelPort::CParallelPort() : CPrinterClassPort(kParallelTimings) {}

CParallelPort::~CParallelPort() {
  CloseBeforeDestruction();
}

std::string CParallelPort::DevicePath(const DeviceConfig& config, std::string* why) const {
  const std::string port = config.Port.empty() ? "LPT1" : config.Port;
  std::string path = platform::ResolvePortName(port);
  if (path.empty()) *why = "port \"" + port + "\" names no device (LPTn or an absolute path)";
  return path;
}

std::unique_ptr<CPortObject> CreateParallelPort() {
  return std::make_unique<CParallelPort>();
}

}  // namespace opos
