// StatusMonitor and StatusEventThread: while the printer is enabled the
// monitor checks the port's status every period and hands each change of
// cover, receipt paper and power state to the event thread, which updates the
// properties and raises the StatusUpdate event.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "common/port_object.h"
#include "common/so_event.h"
#include "platform/sync_event.h"
#include "printer/printer_properties.h"

namespace opos {

// Hand-over codes from the monitor to the event thread.
enum PendingStatus : int32_t {
  kStatusCoverOpen = 1,
  kStatusPaperOut = 8,
  kStatusPowerOff = 512,
  kStatusPaperOk = 2048,
  kStatusCoverClosed = 8192,
  kStatusPowerOnline = 32768,
};

class CStatusMonitor {
 public:
  class Host {
   public:
    virtual bool IsClaimed() const = 0;
    virtual bool IsEnabled() const = 0;
    virtual int32_t PowerNotify() const = 0;
    virtual void SetPowerState(int32_t state) = 0;
    virtual void RaiseEvent(std::unique_ptr<CSOEvent> record) = 0;
    // The printer went offline: its downloaded image is gone.
    virtual void ImagesLost() = 0;
    // A change is handed over (monitor thread; sets cells only).
    virtual void StatusChanged() {}

   protected:
    ~Host() = default;
  };

  CStatusMonitor(Host& host, PrinterProperties& props);
  ~CStatusMonitor();
  CStatusMonitor(const CStatusMonitor&) = delete;
  CStatusMonitor& operator=(const CStatusMonitor&) = delete;

  // Claim: the cells start at 0 (good/bad unknown is reserved for enabling).
  void Start(CPortObject* port, int periodMs);
  void Stop();
  // DeviceEnabled went from 0 to 1: report the current state afresh.
  void OnEnabled();
  // Any thread (the port's status reader, under the port table's lock): the
  // port's status cells have just been updated.
  void ReportArrived() { reportArrived_.Set(); }

  // One status pass with the port's answer r (the monitor thread's work).
  void Check(int32_t r);
  // Applies one hand-over code (the event thread's work).
  void Apply(int32_t code);

 private:
  void MonitorThread();
  void EventThread();
  void HandOver(int32_t code);

  Host& host_;
  PrinterProperties& props_;
  CPortObject* port_ = nullptr;
  int periodMs_ = 500;

  // 1 good, 0 bad, -1 unknown. Enabling writes them on the Control Object's
  // thread while the monitor compares them.
  std::atomic<int32_t> lastPaper_{0};
  std::atomic<int32_t> lastCover_{0};
  std::atomic<int32_t> lastPower_{0};

  // A FIFO rather than a single cell: codes handed over in a burst (power,
  // cover, paper) all arrive, in order, however late the event thread runs.
  std::mutex pendingLock_;
  std::deque<int32_t> pending_;  // under pendingLock_

  std::atomic<bool> stop_{false};
  platform::Event monitorTick_;
  platform::Event statusChanged_;
  platform::Event reportArrived_;  // cuts the pause between passes short
  platform::Event stopSignal_;
  std::thread monitor_;
  std::thread events_;
};

}  // namespace opos
