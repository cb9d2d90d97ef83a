// The drawer's worker threads and the sensing they share with the methods.
// Lock order: stateCellLock_, then an event's own lock.
#include "drawer/cash_drawer.h"

#include "platform/clock.h"
#include "platform/tone.h"

namespace opos {

CCashDrawer::PrinterView CCashDrawer::ViewPrinter() const {
  PrinterView view;
  view.attached = port_->WithPrinter([&view](const IPrinterLink& printer) {
    const uint32_t last = printer.LastOutputTick();
    view.quiet = !printer.OutputBusy() && (last == 0 || platform::TickCount() - last > kPrinterQuietMs);
    if (const CPortObject* port = printer.PrinterPort()) {
      view.hasPort = true;
      view.sensorLow = port->drawerSensorLow.load();
      view.errorLatched = port->errorLatched.load();
      view.deviceLost = port->deviceLost.load();
    }
  });
  return view;
}

bool CCashDrawer::WaitPrinterQuiet() const {
  if (ViewPrinter().quiet) return true;
  const uint32_t firstPause = platform::TickCount();
  for (;;) {
    if (Pause(kQuietRecheckMs)) return false;
    if (ViewPrinter().quiet) return true;
    if (platform::TickCount() - firstPause >= kQuietGiveUpMs) return false;
  }
}

int32_t CCashDrawer::SenseDrawer() {
  const PrinterView printer = ViewPrinter();
  int32_t low = 0;
  if (printer.attached) {
    // While the printer talks, its reports may lag behind the drawer.
    if (!printer.quiet) return -1;
    low = printer.hasPort ? printer.sensorLow : port_->drawerSensorLow.load();
  } else {
    if (port_->CheckReady() != 0) return -1;
    low = port_->drawerSensorLow.load();
  }
  // OpenLevel says which level of pin 3 means open; it holds whichever port
  // object the reading comes from.
  const bool open = openLevel_.load() != 0 ? low != 0 : low == 0;
  return open ? 1 : 0;
}

bool CCashDrawer::SensorPortLost() const {
  const PrinterView printer = ViewPrinter();
  if (printer.attached && printer.hasPort) return printer.deviceLost != 0;
  return port_->deviceLost.load() != 0;
}

void CCashDrawer::SetDrawerStateLocked(int32_t open) {
  drawerState_ = open;
  if (open) {
    drawerClosedSignal_.Reset();
  } else {
    drawerClosedSignal_.Set();
  }
}

void CCashDrawer::RecordReading(int32_t open) {
  bool unreported = false;
  {
    std::lock_guard<std::mutex> g(stateCellLock_);
    SetDrawerStateLocked(open);
    unreported = open != lastReportedState_.load();
  }
  drawerOpened_ = open;
  if (unreported) drawerStateChanged_.Set();
}

bool CCashDrawer::Pause(int ms) const {
  if (ms <= 0) return stopSignal_.IsSet();
  return stopSignal_.Wait(ms);
}

void CCashDrawer::OnClaimStartWorkers() {
  openLevel_ = config_.OpenLevel;
  stopSignal_.Reset();
  drawerStateChanged_.Reset();
  drawerPollTick_.Reset();
  reconcileSignal_.Reset();
  beepOn_.Reset();
  portLost_.Reset();
  {
    std::lock_guard<std::mutex> g(stateCellLock_);
    SetDrawerStateLocked(0);
    lastReportedState_ = -1;
  }
  drawerEventThread_ = std::thread([this] { DrawerEventThread(); });
  drawerPoller_ = std::thread([this] { DrawerPoller(); });
  beeperThread_ = std::thread([this] { BeeperThread(); });
  reconcileThread_ = std::thread([this] { DrawerReconcileThread(); });
}

void CCashDrawer::OnReleaseStopWorkers() {
  StopWorkers();
}

void CCashDrawer::StopWorkers() {
  // Every signal is raised so that each thread wakes, sees the stop flag and
  // leaves. Release has set the flag already; the destructor may not have.
  stop_ = true;
  stopSignal_.Set();
  drawerStateChanged_.Set();
  drawerClosedSignal_.Set();
  drawerPollTick_.Set();
  reconcileSignal_.Set();
  beepOn_.Set();
  for (std::thread* t : {&drawerEventThread_, &drawerPoller_, &beeperThread_, &reconcileThread_}) {
    if (t->joinable()) t->join();
  }
}

void CCashDrawer::DrawerPoller() {
  const std::vector<const platform::Event*> tickOrStop{&drawerPollTick_, &stopSignal_};
  for (;;) {
    platform::WaitAny(tickOrStop);
    if (Stopping()) return;
    drawerPollTick_.Reset();
    if (Pause(kPollPauseMs)) return;
    const bool reading = deviceEnabled_.load() || drawerProfile_.pollWhileDisabled;
    if (claimed_.load() && !Stopping() && reading) {
      const int32_t open = SenseDrawer();
      if (open >= 0) RecordReading(open);
    }
    if (claimed_.load() && SensorPortLost()) portLost_.Set();
    // Not claimed: the tick stays reset and the poller rests.
    if (claimed_.load()) {
      drawerPollTick_.Set();
      if (!drawerProfile_.pollerSingleSleep && Pause(kPollPauseMs)) return;
    }
  }
}

void CCashDrawer::DrawerEventThread() {
  const std::vector<const platform::Event*> changedOrStop{&drawerStateChanged_, &stopSignal_};
  for (;;) {
    platform::WaitAny(changedOrStop);
    if (Stopping()) return;
    drawerStateChanged_.Reset();
    int32_t report = -1;
    {
      std::lock_guard<std::mutex> g(stateCellLock_);
      const int32_t state = drawerState_.load();
      SetDrawerStateLocked(state);
      // A wake-up for a state already reported (two passes seeing the same
      // change before this thread ran) raises nothing.
      if (claimed_.load() && state != lastReportedState_.load()) {
        lastReportedState_ = state;
        report = state;
      }
    }
    if (report >= 0) {
      QueueEvent(
          std::make_unique<CSOEvent>(SOE_STATUSUPDATE, report ? CASH_SUE_DRAWEROPEN : CASH_SUE_DRAWERCLOSED));
    }
  }
}

void CCashDrawer::BeeperThread() {
  const std::vector<const platform::Event*> onOrStop{&beepOn_, &stopSignal_};
  for (;;) {
    platform::WaitAny(onOrStop);
    if (Stopping()) return;
    // WaitForDrawerClose sets beepOn_ only with a positive duration, so each
    // round lasts at least that long.
    platform::Tone(beepFrequency_.load(), beepDuration_.load(), &stopSignal_);
    if (Pause(beepDelay_.load())) return;
  }
}

void CCashDrawer::DrawerReconcileThread() {
  const std::vector<const platform::Event*> reconcileOrStop{&reconcileSignal_, &stopSignal_};
  for (;;) {
    platform::WaitAny(reconcileOrStop);
    if (Stopping()) return;
    reconcileSignal_.Reset();
    bool unreported = false;
    {
      std::lock_guard<std::mutex> g(stateCellLock_);
      unreported = drawerState_.load() != lastReportedState_.load();
    }
    if (unreported) drawerStateChanged_.Set();
  }
}

}  // namespace opos
