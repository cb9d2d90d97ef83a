// The application side of an OPOS device: a Control Object finds the device in
// the registry (by device key name or logical device name), creates its Service
// Object by the ProgID stored there, opens it with itself as the event sink, and
// forwards every method and property call to it.
//
// Threading: a Control Object belongs to the thread that opened it. Every call
// while it is open must come from that thread (others are refused with
// OPOS_E_ILLEGAL and change nothing), and its events are delivered on that
// thread whenever it pumps its message queue: inside Service Object calls that
// wait (claim, release, enabling the drawer), through PumpEvents /
// DispatchEvents, or from the application's own loop watching EventFd(). Set
// the handlers before Open. A handler must not throw (an exception is caught
// at the sink and dropped, since it must not unwind through the Service Object).
//
// Registry: the Service Object reads its configuration from the store at
// Store::DefaultPath() ($OPOS_REGISTRY), whatever path the Control Object uses
// for its own lookup; give it another path only when both are the same file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "control/api.h"
#include "control/members.h"
#include "platform/dispatch.h"

namespace opos::platform {
class MessageQueue;
}

namespace opos::control {

class OPOS_CONTROL_API ControlObject {
 public:
  using StatusUpdateHandler = std::function<void(int32_t data)>;
  // errorResponse holds the Service Object's proposed response; what the
  // handler leaves in it is the answer.
  using ErrorHandler = std::function<void(int32_t resultCode, int32_t resultCodeExtended,
                                          int32_t errorLocus, int32_t& errorResponse)>;
  using OutputCompleteHandler = std::function<void(int32_t outputId)>;
  using DirectIOHandler = std::function<void(int32_t eventNumber, int32_t& data, std::string& text)>;

  // Closes the device when still open. Must not run inside one of this
  // object's own event handlers.
  virtual ~ControlObject();
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  DeviceClass Class() const { return class_; }
  // Store used to find the device (before Open); empty: Store::DefaultPath().
  void SetRegistryPath(const std::string& path) { registryPath_ = path; }

  // Finds the device, creates its Service Object and calls OpenService. Any
  // failure to reach a Service Object gives OPOS_E_NOSERVICE (104), with the
  // reason in LastErrorText(); a Service Object's refusal gives its code.
  // OPOS_E_ILLEGAL when already open.
  int32_t Open(const std::string& deviceName);
  // CloseService, then lets go of the Service Object. OPOS_E_CLOSED when not open;
  // OPOS_E_ILLEGAL inside this object's own event handler (the Service Object
  // would wait for that very delivery to finish).
  int32_t Close();
  bool IsOpen() const { return so_ != nullptr; }
  // The name given to the last Open.
  const std::string& OpenedName() const { return openedName_; }
  // Why the last Open (or a refused call) failed; empty after success.
  const std::string& LastErrorText() const { return lastError_; }

  // Common methods. Each returns the OPOS result code (OPOS_E_CLOSED before Open).
  int32_t ClaimDevice(int32_t timeout);
  int32_t Claim(int32_t timeout) { return ClaimDevice(timeout); }
  int32_t ReleaseDevice();
  int32_t Release() { return ReleaseDevice(); }
  int32_t CloseService() { return Close(); }
  int32_t CheckHealth(int32_t level);
  int32_t DirectIO(int32_t command, int32_t& data, std::string& text);
  int32_t COFreezeEvents(int32_t freeze);

  // Properties by index. While closed, only ResultCode (6) and State (9) read as
  // anything but 0 / "".
  int32_t GetPropertyNumber(int32_t index);
  void SetPropertyNumber(int32_t index, int32_t value);
  std::string GetPropertyString(int32_t index);
  void SetPropertyString(int32_t index, const std::string& value);

  int32_t ResultCode();
  int32_t ResultCodeExtended();
  int32_t State();
  bool Claimed();
  bool DeviceEnabled();
  void SetDeviceEnabled(bool enabled);
  bool FreezeEvents();
  void SetFreezeEvents(bool freeze);
  int32_t BinaryConversion();
  void SetBinaryConversion(int32_t value);
  int32_t PowerNotify();
  void SetPowerNotify(int32_t value);
  int32_t PowerState();
  int32_t CapPowerReporting();
  int32_t ServiceObjectVersion();
  std::string CheckHealthText();
  std::string DeviceDescription();
  std::string DeviceName();
  std::string ServiceObjectDescription();

  // Calls a member by name (ControlMembers(Class()) lists them) with the caller's
  // arguments; by-reference arguments point at the caller's cells. Returns
  // DISP_E_UNKNOWNNAME, DISP_E_BADPARAMCOUNT or DISP_E_TYPEMISMATCH when the call
  // does not fit a member; a Service Object that fails the call gives its
  // HRESULT (ResultCode then reads OPOS_E_NOSERVICE). Otherwise S_OK with the
  // member's result (Long, String, or Empty for members without one).
  com::HRESULT Invoke(const std::string& member, std::vector<com::Variant>& args, com::Variant* result);

  // Event handlers; set them before Open. The cash drawer raises only
  // StatusUpdate and DirectIO events.
  void OnStatusUpdate(StatusUpdateHandler h) { onStatusUpdate_ = std::move(h); }
  void OnError(ErrorHandler h) { onError_ = std::move(h); }
  void OnOutputComplete(OutputCompleteHandler h) { onOutputComplete_ = std::move(h); }
  void OnDirectIO(DirectIOHandler h) { onDirectIO_ = std::move(h); }

  // The opening thread's message queue: readable exactly while deliveries wait
  // (-1 before the first Open). Shared by every device opened on that thread.
  int EventFd() const;
  // On the opening thread: deliver what waits now / deliver as it arrives for
  // ms milliseconds. From another thread they deliver nothing (0 / false).
  size_t DispatchEvents();
  bool PumpEvents(int ms);

 protected:
  explicit ControlObject(DeviceClass c);

  // Calls a member with a LONG result; OPOS_E_NOSERVICE when the Service Object
  // cannot perform the call.
  int32_t CallLong(const char* member, std::vector<com::Variant> args);

 private:
  class Sink;

  // True while open on another thread than the caller's.
  bool ForeignThread() const;
  int32_t Local(int32_t rc);
  com::HRESULT Forward(size_t index, const com::Member& m, std::vector<com::Variant>& args,
                       com::Variant* result);
  void AnswerClosed(const com::Member& m, const std::vector<com::Variant>& args, com::Variant* result);
  int32_t DoClose();

  const DeviceClass class_;
  std::string registryPath_;
  std::string openedName_;
  std::string lastError_;
  com::IDispatch* so_ = nullptr;  // one counted reference while open
  // DISPIDs on the Service Object, by position in ControlMembers(); looked up
  // on first use after each Open.
  std::vector<int32_t> dispids_;
  std::vector<bool> dispidKnown_;
  std::unique_ptr<Sink> sink_;
  // The opening thread while open; the only cell a foreign thread reads, so
  // that it is refused before it touches anything else.
  std::atomic<std::thread::id> owner_{};
  std::shared_ptr<platform::MessageQueue> queue_;
  std::thread::id queueThread_{};
  // ResultCode answered by this object itself (closed, or a call the Service
  // Object could not take); while localResult_ it hides the Service Object's.
  int32_t resultCode_ = 101;  // OPOS_E_CLOSED
  bool localResult_ = true;
  int inEvent_ = 0;  // depth of this object's handlers running on the opening thread

  StatusUpdateHandler onStatusUpdate_;
  ErrorHandler onError_;
  OutputCompleteHandler onOutputComplete_;
  DirectIOHandler onDirectIO_;
};

}  // namespace opos::control
