// The lifecycle and common properties that the POS printer and the cash drawer
// share: opening and closing, claiming and releasing, enabling, event freezing,
// ResultCode bookkeeping, event delivery to the Control Object, and the
// dispatch interface through which the Control Object calls every member.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/device_config.h"
#include "common/opos.h"
#include "common/port_object.h"
#include "common/so_event.h"
#include "platform/dispatch.h"
#include "platform/message_queue.h"
#include "platform/trace_writer.h"
#include "service/event_queue.h"
#include "service/library_profile.h"

namespace opos {

class CServiceObject : public com::IDispatch {
 public:
  CServiceObject(const LibraryProfile& profile, bool drawer);
  virtual ~CServiceObject();
  CServiceObject(const CServiceObject&) = delete;
  CServiceObject& operator=(const CServiceObject&) = delete;

  // IDispatch
  uint32_t AddRef() override;
  uint32_t Release() override;
  com::HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override;
  com::HRESULT Invoke(int32_t dispid, std::vector<com::Variant>& args, com::Variant* result) override;

  // Common entry points.
  int32_t OpenService(const std::string& deviceClass, const std::string& deviceName, com::IDispatch* co);
  int32_t CloseService();
  int32_t ClaimDevice(int32_t timeout);
  int32_t ReleaseDevice();
  int32_t COFreezeEvents(int32_t freeze);
  virtual int32_t GetPropertyNumber(int32_t index);
  virtual void SetPropertyNumber(int32_t index, int32_t value);
  virtual std::string GetPropertyString(int32_t index);
  void SetPropertyString(int32_t, const std::string&) {}

  // Any thread.
  void QueueEvent(std::unique_ptr<CSOEvent> record) {
    if (trace_) TraceEvent("raise", *record);
    events_.QueueEvent(std::move(record));
  }
  int32_t State() const;
  void SetState(int32_t state);

 protected:
  // The class's dispatch members in dispatch order, and the call of member
  // `index` (0-based) with arguments already checked against the table.
  virtual const com::MemberTable& Members() const = 0;
  virtual com::HRESULT CallMember(size_t index, std::vector<com::Variant>& args, com::Variant* result) = 0;
  // Runs a common member by name; false when name is not a common member.
  bool CallCommonMember(const std::string& name, std::vector<com::Variant>& args, com::Variant* result);

  // Event method names this class looks up on the Control Object, in order.
  virtual std::vector<std::string> EventMethodNames() const = 0;
  // On the opening thread: make the Control Object call for one record.
  virtual void DeliverEvent(CSOEvent& record) = 0;
  // Class hooks around claim, enable and release.
  virtual void OnClaimStartWorkers() {}
  virtual void OnClaimed() {}
  virtual void OnEnabled() {}
  virtual void OnReleaseDrain() {}
  virtual void OnReleaseStopWorkers() {}
  virtual void OnReleased() {}

  // Calls the Control Object's event method by its position in EventMethodNames.
  void CallControlObject(size_t method, std::vector<com::Variant>& args);

  int32_t SetResult(int32_t rc) {
    resultCode_.store(rc);
    return rc;
  }
  // A line of the field trace when it is on, else (for the lines the
  // library always prints) standard error.
  void TraceOrConsole(std::string_view line);
  void TraceEvent(const char* what, const CSOEvent& record);

  const LibraryProfile& profile_;
  const bool drawer_;
  DeviceConfig config_;
  std::shared_ptr<platform::TraceWriter> trace_;  // null: off; outlives port_
  std::unique_ptr<CPortObject> port_;

  std::atomic<int32_t> claimed_{0};
  std::atomic<int32_t> deviceEnabled_{0};
  std::atomic<int32_t> freezeEvents_{0};
  std::atomic<int32_t> resultCode_{OPOS_SUCCESS};
  std::atomic<int32_t> resultCodeExtended_{0};
  std::atomic<int32_t> capPowerReporting_{0};
  std::atomic<int32_t> powerNotify_{0};
  std::atomic<int32_t> powerState_{OPOS_PS_UNKNOWN};
  std::atomic<int32_t> binaryConversion_{0};
  std::atomic<int32_t> coFreeze_{0};
  std::atomic<bool> stop_{false};
  std::string checkHealthText_;  // opening thread only

  mutable std::mutex stateLock_;  // guards state_ and the event queue
  int32_t state_ = OPOS_S_CLOSED;
  CEventQueue events_{stateLock_};

 private:
  std::atomic<uint32_t> refs_{1};
  com::IDispatch* controlObject_ = nullptr;  // not reference counted
  std::vector<int32_t> eventDispids_;
  std::shared_ptr<platform::MessageQueue> openingQueue_;
  bool opened_ = false;
};

}  // namespace opos
