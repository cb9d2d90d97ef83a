#include "transport/usb/usb_port.h"

#include "platform/usb_enum.h"

namespace opos {

namespace {

// As the parallel port, with USB's shorter waits.
constexpr PrinterClassTimings kUsbTimings{
    .port =
        {
            .chunkLimitMs = 500,
            .chunkPauseMs = 20,
            .slowPassMs = 50,
            .fastPassMs = 5,
            .resendPauseMs = 10,
            .settleMs = 50,
            .readWaitMs = 10,
            .imagesLostOnWriteFailure = true,
        },
    .afterReadyWaitMs = 50,
    .reportWaitMs = 5,
    .afterStartMs = 50,
    .drawerReplyWaitMs = 20,
};

}  // namespace

CUsbPort::CUsbPort() : CPrinterClassPort(kUsbTimings) {}

CUsbPort::~CUsbPort() {
  CloseBeforeDestruction();
}

std::string CUsbPort::DevicePath(const DeviceConfig& config, std::string* why) const {
  // Added in the setup tool but never bound to a socket.
  if (config.Port.empty()) {
    *why = "not bound to a USB socket (set its port in the setup tool)";
    return {};
  }
  std::string error;
  std::string path = usb::ResolveUsbDevicePath(config.Port, &error);
  if (path.empty()) *why = error.empty() ? "no USB printer at socket " + config.Port : error;
  return path;
}

std::unique_ptr<CPortObject> CreateUsbPort() {
  return std::make_unique<CUsbPort>();
}

}  // namespace opos
