#include "transport/printer_class_port.h"

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/device_io.h"

namespace opos {

int CPrinterClassPort::Open(const DeviceConfig& config) {
  if (opened.load() != 0) return 1;
  std::string why;
  const std::string path = DevicePath(config, &why);
  if (path.empty()) {
    SetFailureDetail(why);
    return 0;
  }
  UseWritePacing(config.WriteChunk, config.WritePauseMs);
  return AttachDevice(path) ? 1 : 0;
}

int32_t CPrinterClassPort::StartMonitor(uint32_t limitMs) {
  if (opened.load() == 0 || StatusReaderRunning()) return OPOS_E_ILLEGAL;
  ResetStatusCells();
  monitoring.store(0);
  if (IsDrawerSide()) {
    int32_t code = WaitForPrinterReady(limitMs, timings_.afterReadyWaitMs);
    if (code != 0) return code;
    monitoring.store(1);
    return 0;
  }
  monitoring.store(1);
  RequestStatusReport(timings_.reportWaitMs);
  if (!StartStatusReader()) return OPOS_E_FAILURE;
  platform::SleepMs(timings_.afterStartMs);
  return 0;
}

int32_t CPrinterClassPort::DrawerCheckReady() {
  return AskDrawerState(timings_.drawerReplyWaitMs);
}

}  // namespace opos
