#include "printer/status_monitor.h"

namespace opos {

CStatusMonitor::CStatusMonitor(Host& host, PrinterProperties& props) : host_(host), props_(props) {}

CStatusMonitor::~CStatusMonitor() {
  Stop();
}

void CStatusMonitor::Start(CPortObject* port, int periodMs) {
  Stop();
  port_ = port;
  periodMs_ = periodMs;
  lastPaper_ = 0;
  lastCover_ = 0;
  lastPower_ = 0;
  {
    std::lock_guard<std::mutex> g(pendingLock_);
    pending_.clear();
  }
  stop_ = false;
  stopSignal_.Reset();
  monitorTick_.Reset();
  statusChanged_.Reset();
  monitor_ = std::thread([this] { MonitorThread(); });
  events_ = std::thread([this] { EventThread(); });
}

void CStatusMonitor::Stop() {
  if (!monitor_.joinable() && !events_.joinable()) return;
  stop_ = true;
  stopSignal_.Set();
  if (monitor_.joinable()) monitor_.join();
  if (events_.joinable()) events_.join();
}

void CStatusMonitor::OnEnabled() {
  lastPaper_ = -1;
  lastCover_ = -1;
  lastPower_ = -1;
  // The first pass after enabling keeps its full pause.
  reportArrived_.Reset();
  monitorTick_.Set();
}

void CStatusMonitor::MonitorThread() {
  for (;;) {
    platform::WaitAny({&monitorTick_, &stopSignal_});
    if (stop_.load()) break;
    monitorTick_.Reset();
    // A report from the printer ends the pause at once: the pass reads the
    // cells it has just changed.
    platform::WaitAny({&stopSignal_, &reportArrived_}, periodMs_);
    if (stop_.load()) break;
    reportArrived_.Reset();
    // Disabled: rest without a tick until enabling sets one.
    if (!host_.IsClaimed() || !host_.IsEnabled()) continue;
    Check(port_->CheckReady());
    monitorTick_.Set();
  }
}

void CStatusMonitor::Check(int32_t r) {
  const bool powerNotify = host_.PowerNotify() == OPOS_PN_ENABLED;
  if (r == 0) {
    if (powerNotify && lastPower_.load() != 1) {
      lastPower_ = 1;
      HandOver(kStatusPowerOnline);
    }
    if (lastCover_.load() != 1) {
      lastCover_ = 1;
      HandOver(kStatusCoverClosed);
    }
    if (lastPaper_.load() != 1) {
      lastPaper_ = 1;
      HandOver(kStatusPaperOk);
    }
    return;
  }
  if (r == OPOS_EPTR_COVER_OPEN) {
    if (lastCover_.load() != 0) {
      lastCover_ = 0;
      // The open cover hides the paper state; it counts as good again.
      lastPaper_ = 1;
      HandOver(kStatusCoverOpen);
    }
  } else if (r == OPOS_EPTR_REC_EMPTY) {
    if (lastPaper_.load() != 0) {
      lastPaper_ = 0;
      lastCover_ = 1;
      HandOver(kStatusPaperOut);
    }
  } else {
    host_.ImagesLost();
  }
  if (powerNotify && lastPower_.load() != 0) {
    lastPower_ = 0;
    HandOver(kStatusPowerOff);
  }
}

void CStatusMonitor::HandOver(int32_t code) {
  std::lock_guard<std::mutex> g(pendingLock_);
  pending_.push_back(code);
  statusChanged_.Set();
  host_.StatusChanged();
}

void CStatusMonitor::EventThread() {
  for (;;) {
    platform::WaitAny({&statusChanged_, &stopSignal_});
    if (stop_.load()) break;
    std::deque<int32_t> codes;
    {
      std::lock_guard<std::mutex> g(pendingLock_);
      codes.swap(pending_);
      statusChanged_.Reset();
    }
    for (int32_t code : codes) {
      if (host_.IsClaimed()) Apply(code);
    }
  }
}

void CStatusMonitor::Apply(int32_t code) {
  int32_t data = 0;
  int32_t level = PTR_EL_NONE;
  const char* text = "";
  switch (code) {
    case kStatusCoverOpen:
      props_[PIDXPtr_CoverOpen] = 1;
      props_[PIDXPtr_RecEmpty] = 0;
      data = PTR_SUE_COVER_OPEN;
      level = PTR_EL_RECOVERABLE;
      text = "Printer cover is open.";
      break;
    case kStatusPaperOut:
      props_[PIDXPtr_RecEmpty] = 1;
      props_[PIDXPtr_CoverOpen] = 0;
      data = PTR_SUE_REC_EMPTY;
      level = PTR_EL_RECOVERABLE;
      text = "Receipt station is out of paper.";
      break;
    case kStatusPowerOff:
      host_.SetPowerState(OPOS_PS_OFF_OFFLINE);
      data = OPOS_SUE_POWER_OFF_OFFLINE;
      level = PTR_EL_FATAL;
      text = "An unrecoverable error has occurred.";
      break;
    case kStatusPaperOk:
      props_[PIDXPtr_RecEmpty] = 0;
      data = PTR_SUE_REC_PAPEROK;
      break;
    case kStatusCoverClosed:
      props_[PIDXPtr_CoverOpen] = 0;
      data = PTR_SUE_COVER_OK;
      break;
    case kStatusPowerOnline:
      host_.SetPowerState(OPOS_PS_ONLINE);
      data = OPOS_SUE_POWER_ONLINE;
      break;
    default:
      return;
  }
  props_[PIDXPtr_ErrorLevel] = level;
  props_.SetErrorString(text);
  host_.RaiseEvent(std::make_unique<CSOEvent>(SOE_STATUSUPDATE, data));
}

}  // namespace opos
