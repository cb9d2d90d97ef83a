// The cash drawer Service Object: opened through the printer's drawer-kick
// connector and sensed through the printer's status reports.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "common/port_object.h"
#include "drawer/drawer_profile.h"
#include "platform/sync_event.h"
#include "service/service_object.h"

namespace opos {

class CCashDrawer : public CServiceObject, public IDrawerLink {
 public:
  CCashDrawer();
  // A drawer with another library's behaviour (tests).
  explicit CCashDrawer(const LibraryProfile& library);
  ~CCashDrawer() override;

  int32_t CheckHealth(int32_t level);
  int32_t DirectIO(int32_t command, int32_t* data, std::string* text);
  int32_t OpenDrawer();
  int32_t WaitForDrawerClose(int32_t beepTimeout, int32_t beepFrequency, int32_t beepDuration,
                             int32_t beepDelay);

  int32_t GetPropertyNumber(int32_t index) override;

 protected:
  const com::MemberTable& Members() const override;
  com::HRESULT CallMember(size_t index, std::vector<com::Variant>& args, com::Variant* result) override;
  std::vector<std::string> EventMethodNames() const override { return {"SODirectIO", "SOStatusUpdate"}; }
  void DeliverEvent(CSOEvent& record) override;
  void OnClaimStartWorkers() override;
  void OnEnabled() override;
  void OnReleaseStopWorkers() override;

 private:
  // What the drawer knows of the printer service on its port, read in one go.
  struct PrinterView {
    bool attached = false;
    bool quiet = true;
    bool hasPort = false;  // the printer's port object is known
    int32_t sensorLow = 0;
    int32_t errorLatched = 0;
    int32_t deviceLost = 0;
  };
  PrinterView ViewPrinter() const;
  // Waits (on the calling thread) until a printer on the port is quiet; false
  // when it stayed busy past the limit. No printer: true at once.
  bool WaitPrinterQuiet() const;
  // The drawer as the poller reads it: 1 open, 0 closed, -1 no reading now
  // (printer not quiet, or the port not ready).
  int32_t SenseDrawer();
  // The device the sensor is read from is gone: no close can ever be seen.
  bool SensorPortLost() const;
  // Takes a reading as the drawer's state; wakes DrawerEventThread when it
  // differs from the state last reported.
  void RecordReading(int32_t open);
  // Sets drawerState and keeps DrawerClosedSignal in step with it. Caller
  // holds stateCellLock_.
  void SetDrawerStateLocked(int32_t open);
  int32_t SendPulse(const uint8_t* pulse, size_t length);
  // Waits ms or until release; true when releasing.
  bool Pause(int ms) const;
  bool Stopping() const { return stop_.load(); }
  void StopWorkers();

  void DrawerPoller();
  void DrawerEventThread();
  void BeeperThread();
  void DrawerReconcileThread();

  const DrawerProfile& drawerProfile_;

  // drawerState, lastReportedState and DrawerClosedSignal change together
  // under this lock, so a stale reading never leaves the signal out of step.
  // Held only for these updates; never across a wait or a queueing.
  std::mutex stateCellLock_;
  std::atomic<int32_t> drawerState_{0};
  std::atomic<int32_t> lastReportedState_{-1};
  std::atomic<int32_t> drawerOpened_{0};  // DrawerOpened property
  std::atomic<int32_t> openLevel_{1};     // OpenLevel as configured at claim

  platform::Event drawerStateChanged_;
  platform::Event drawerClosedSignal_{true};
  platform::Event drawerPollTick_;
  platform::Event reconcileSignal_;
  platform::Event beepOn_;
  platform::Event portLost_;  // set by the poller once SensorPortLost() holds
  platform::Event stopSignal_;

  // Written by WaitForDrawerClose before it sets beepOn_.
  std::atomic<int32_t> beepFrequency_{0};
  std::atomic<int32_t> beepDuration_{0};
  std::atomic<int32_t> beepDelay_{0};

  std::thread drawerEventThread_;
  std::thread drawerPoller_;
  std::thread beeperThread_;
  std::thread reconcileThread_;
};

}  // namespace opos
