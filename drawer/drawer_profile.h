// Where the cash drawer service differs between the three libraries, as data.
#pragma once

#include <cstdint>

#include "service/library_profile.h"

namespace opos {

struct DrawerProfile {
  // OpenDrawer on a drawer that already reads open sends no pulse: it sounds
  // this tone, lets the reconcile thread report a change not yet reported,
  // and succeeds.
  bool skipPulseWhenOpen;
  int32_t alreadyOpenToneHz;
  int32_t alreadyOpenToneMs;
  // After a successful OpenDrawer the drawer is expected to open: the closed
  // signal is reset and the state left as read. Otherwise OpenDrawer marks the
  // drawer closed and the poller reports the opening on a later pass.
  bool expectOpenAfterPulse;
  // PumpWaits that WaitForDrawerClose makes before it looks at the drawer, so
  // that a pulse just sent has time to open it and be reported.
  int pumpWaitsBeforeLook;
  // DrawerPoller: one 500 ms pause per pass (else two: before the reading and
  // after re-arming the tick).
  bool pollerSingleSleep;
  // DrawerPoller reads the drawer while claimed, enabled or not.
  bool pollWhileDisabled;
};

inline constexpr DrawerProfile kSerialDrawer{false, 0, 0, false, 6, false, false};
inline constexpr DrawerProfile kParallelDrawer{true, 1000, 50, true, 4, true, true};
inline constexpr DrawerProfile kUsbDrawer{true, 1000, 50, true, 4, true, true};

constexpr const DrawerProfile& DrawerProfileFor(TransportKind kind) {
  switch (kind) {
    case TransportKind::Parallel:
      return kParallelDrawer;
    case TransportKind::Usb:
      return kUsbDrawer;
    case TransportKind::Serial:
      break;
  }
  return kSerialDrawer;
}

// Drawer-kick pulse ESC p m t1 t2: 200 ms on, 400 ms off.
inline constexpr uint8_t kPulsePin2[] = {0x1B, 0x70, 0x30, 0x64, 0xC8};
inline constexpr uint8_t kPulsePin5[] = {0x1B, 0x70, 0x31, 0x64, 0xC8};

// The printer counts as quiet once its last synchronous output lies this far back.
inline constexpr uint32_t kPrinterQuietMs = 1000;
// OpenDrawer and WaitForDrawerClose re-check a printer that is not quiet this
// often, and give up this long after the first pause.
inline constexpr int kQuietRecheckMs = 500;
inline constexpr uint32_t kQuietGiveUpMs = 5000;
// The poller's pause.
inline constexpr int kPollPauseMs = 500;

}  // namespace opos
