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

CUsbPort::~CUsbPort() { CloseBeforeDestruction(); }

std::string CUsbPort::DevicePath(const DeviceConfig& config) const {
  // Added in the setup tool but never bound to a socket.
  if (config.Port.empty()) return {};
  return usb::ResolveUsbDevicePath(config.Port);
}

std::unique_ptr<CPortObject> CreateUsbPort() { return std::make_unique<CUsbPort>(); }

}  // namespace opos
