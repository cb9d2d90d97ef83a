#include "drawer/cash_drawer.h"

#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/so_members.h"
#include "platform/tone.h"
#include "service/health_dialog.h"

namespace opos {

using com::HRESULT;
using com::Variant;

CCashDrawer::CCashDrawer() : CCashDrawer(ThisLibrary()) {}

CCashDrawer::CCashDrawer(const LibraryProfile& library)
    : CServiceObject(library, true), drawerProfile_(DrawerProfileFor(library.transport)) {}

CCashDrawer::~CCashDrawer() {
  if (claimed_.load()) ReleaseDevice();
  StopWorkers();
}

const com::MemberTable& CCashDrawer::Members() const {
  return DrawerServiceMembers();
}

HRESULT CCashDrawer::CallMember(size_t index, std::vector<Variant>& a, Variant* r) {
  int32_t l[4] = {};
  for (size_t i = 0; i < a.size() && i < 4; ++i) a[i].AsLong(&l[i]);
  switch (index) {
    case 6:
      *r = Variant::Long(CheckHealth(l[0]));
      return com::S_OK;
    case 9:
      *r = Variant::Long(DirectIO(l[0], a[1].plVal, a[2].pstrVal));
      return com::S_OK;
    case 11:
      *r = Variant::Long(OpenDrawer());
      return com::S_OK;
    case 12:
      *r = Variant::Long(WaitForDrawerClose(l[0], l[1], l[2], l[3]));
      return com::S_OK;
    default:
      return com::DISP_E_MEMBERNOTFOUND;
  }
}

void CCashDrawer::DeliverEvent(CSOEvent& e) {
  if (e.kind == SOE_DIRECTIO) {
    std::vector<Variant> args{Variant::Long(e.param1), Variant::LongRef(&e.param2),
                              Variant::StringRef(&e.text)};
    CallControlObject(0, args);
  } else if (e.kind == SOE_STATUSUPDATE) {
    std::vector<Variant> args{Variant::Long(e.param1)};
    CallControlObject(1, args);
  }
}

int32_t CCashDrawer::GetPropertyNumber(int32_t index) {
  switch (index) {
    case PIDXCash_CapStatus:
      return 1;
    case PIDXCash_DrawerOpened:
      return drawerOpened_.load();
    default:
      return CServiceObject::GetPropertyNumber(index);
  }
}

void CCashDrawer::OnEnabled() {
  {
    std::lock_guard<std::mutex> g(stateCellLock_);
    lastReportedState_ = -1;
  }
  drawerPollTick_.Set();
  // The first reading is reported meanwhile.
  for (int i = 0; i < 3; ++i) platform::PumpWait();
}

int32_t CCashDrawer::CheckHealth(int32_t level) {
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  if (!deviceEnabled_.load()) return SetResult(OPOS_E_DISABLED);
  switch (level) {
    case OPOS_CH_INTERNAL:
    case OPOS_CH_EXTERNAL:
      // The drawer has nothing to check on its own; CheckHealthText stays.
      return SetResult(OPOS_SUCCESS);
    case OPOS_CH_INTERACTIVE:
      // Each Start opens the drawer; the check itself always succeeds.
      if (!RunHealthCheckDialog([this] { (void)OpenDrawer(); })) return SetResult(OPOS_E_BUSY);
      return SetResult(OPOS_SUCCESS);
    default:
      return SetResult(OPOS_E_ILLEGAL);
  }
}

int32_t CCashDrawer::DirectIO(int32_t command, int32_t*, std::string*) {
  return SetResult(command == 1 ? OPOS_SUCCESS : OPOS_E_ILLEGAL);
}

int32_t CCashDrawer::SendPulse(const uint8_t* pulse, size_t length) {
  const PrinterView printer = ViewPrinter();
  if (printer.attached) {
    const int32_t latched = printer.hasPort ? printer.errorLatched : port_->errorLatched.load();
    if (latched) return OPOS_E_ILLEGAL;
  } else if (pulse == kPulsePin2) {
    if (port_->errorLatched.load()) return OPOS_E_ILLEGAL;
  } else if (port_->CheckReady() != 0) {
    return OPOS_E_ILLEGAL;
  }
  return port_->Write(pulse, length) == 1 ? OPOS_SUCCESS : OPOS_E_ILLEGAL;
}

int32_t CCashDrawer::OpenDrawer() {
  if (State() == OPOS_S_CLOSED) return SetResult(OPOS_E_CLOSED);
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);

  if (drawerProfile_.skipPulseWhenOpen && drawerState_.load() == 1) {
    platform::Tone(drawerProfile_.alreadyOpenToneHz, drawerProfile_.alreadyOpenToneMs, &stopSignal_);
    reconcileSignal_.Set();
    return SetResult(OPOS_SUCCESS);
  }
  if (!drawerProfile_.expectOpenAfterPulse) {
    std::lock_guard<std::mutex> g(stateCellLock_);
    SetDrawerStateLocked(0);
  }

  const uint8_t* pulse = nullptr;
  switch (config_.ConnectorPinNo) {
    case 2:
      pulse = kPulsePin2;
      break;
    case 5:
      pulse = kPulsePin5;
      break;
    default:
      break;  // no connector configured: nothing to send
  }
  if (pulse) {
    // A printer that never goes quiet would have the drawer stay shut while
    // the application is told it opened: say so instead.
    if (!WaitPrinterQuiet()) return SetResult(OPOS_E_ILLEGAL);
    const int32_t rc = SendPulse(pulse, sizeof kPulsePin2);
    if (rc != OPOS_SUCCESS) return SetResult(rc);
  }
  if (drawerProfile_.expectOpenAfterPulse) drawerClosedSignal_.Reset();
  return SetResult(OPOS_SUCCESS);
}

int32_t CCashDrawer::WaitForDrawerClose(int32_t beepTimeout, int32_t beepFrequency, int32_t beepDuration,
                                        int32_t beepDelay) {
  if (State() == OPOS_S_CLOSED) return SetResult(OPOS_E_CLOSED);
  if (!claimed_.load()) return SetResult(OPOS_E_NOTCLAIMED);
  // A negative BeepTimeout is an endless wait (INFINITE is -1): the drawer is
  // waited for without a tone, and the tone's arguments go unused. With a
  // tone, a negative duration or delay would stall the beeper for good; a
  // negative frequency only makes the tone silent.
  const bool mayBeep = beepTimeout >= 0;
  if (mayBeep && (beepDuration < 0 || beepDelay < 0)) return SetResult(OPOS_E_ILLEGAL);
  // Where the poller does not read a disabled drawer, an open drawer could
  // never be seen closing: the wait would never end.
  if (!deviceEnabled_.load() && !drawerProfile_.pollWhileDisabled) return SetResult(OPOS_E_DISABLED);
  if (!WaitPrinterQuiet()) return SetResult(OPOS_E_ILLEGAL);
  {
    const PrinterView printer = ViewPrinter();
    const int32_t latched =
        (printer.attached && printer.hasPort) ? printer.errorLatched : port_->errorLatched.load();
    if (latched) return SetResult(OPOS_E_ILLEGAL);
  }
  for (int i = 0; i < drawerProfile_.pumpWaitsBeforeLook; ++i) platform::PumpWait();

  // Read the drawer now rather than trust the last pass: a drawer that opened
  // since then must not count as closed.
  const int32_t reading = SenseDrawer();
  if (reading >= 0) RecordReading(reading);
  if (drawerState_.load() == 1) {
    // A vanished port never reports the drawer closed: that ends the wait too.
    const std::vector<const platform::Event*> closedOrStop{&drawerClosedSignal_, &stopSignal_, &portLost_};
    if (!mayBeep) {
      platform::WaitAny(closedOrStop);
    } else if (platform::WaitAny(closedOrStop, beepTimeout) < 0) {
      beepFrequency_ = beepFrequency;
      beepDuration_ = beepDuration;
      beepDelay_ = beepDelay;
      // A silent or zero-length tone would only spin the beeper.
      const bool audible = beepFrequency > 0 && beepDuration > 0;
      if (audible) beepOn_.Set();
      platform::WaitAny(closedOrStop);
      if (audible) beepOn_.Reset();
    }
    if (Stopping()) return SetResult(OPOS_E_NOTCLAIMED);  // released meanwhile
    if (!drawerClosedSignal_.IsSet() && portLost_.IsSet()) return SetResult(OPOS_E_FAILURE);
  }
  return SetResult(OPOS_SUCCESS);
}

}  // namespace opos
