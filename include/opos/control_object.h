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

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opos/api.h"
#include "opos/device_class.h"

namespace opos::com {
struct Variant;  // the dispatch layer's argument type (not part of the installed API)
}

namespace opos::control {

class OPOS_CONTROL_API ControlObject {
 public:
  using StatusUpdateHandler = std::function<void(int32_t data)>;
  // errorResponse holds the Service Object's proposed response; what the
  // handler leaves in it is the answer.
  using ErrorHandler = std::function<void(int32_t resultCode, int32_t resultCodeExtended, int32_t errorLocus,
                                          int32_t& errorResponse)>;
  using OutputCompleteHandler = std::function<void(int32_t outputId)>;
  using DirectIOHandler = std::function<void(int32_t eventNumber, int32_t& data, std::string& text)>;

  // Closes the device when still open. Must not run inside one of this
  // object's own event handlers.
  virtual ~ControlObject();
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  DeviceClass Class() const;
  // Store used to find the device (before Open); empty: Store::DefaultPath().
  void SetRegistryPath(const std::string& path);

  // Finds the device, creates its Service Object and calls OpenService. Any
  // failure to reach a Service Object gives OPOS_E_NOSERVICE (104), with the
  // reason in LastErrorText(); a Service Object's refusal gives its code.
  // OPOS_E_ILLEGAL when already open.
  int32_t Open(const std::string& deviceName);
  // CloseService, then lets go of the Service Object. OPOS_E_CLOSED when not open;
  // OPOS_E_ILLEGAL inside this object's own event handler (the Service Object
  // would wait for that very delivery to finish).
  int32_t Close();
  bool IsOpen() const;
  // The name given to the last Open.
  const std::string& OpenedName() const;
  // Why the last Open (or a refused call) failed; empty after success.
  const std::string& LastErrorText() const;

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
  // Extension: why the Service Object's last port open or write failed (the
  // device path and the reason, e.g. "held by process 812 (opos)"); "" when
  // none did. Reading it changes no result code.
  std::string LastErrorDetail();

  // Calls a member by name with dispatch arguments (the project's own tools use
  // it; the typed methods above are the application interface). Returns
  // DISP_E_UNKNOWNNAME, DISP_E_BADPARAMCOUNT or DISP_E_TYPEMISMATCH when the
  // call does not fit a member; a Service Object that fails the call gives its
  // HRESULT (ResultCode then reads OPOS_E_NOSERVICE). Otherwise S_OK with the
  // member's result (Long, String, or Empty for members without one).
  int32_t Invoke(const std::string& member, std::vector<com::Variant>& args, com::Variant* result);

  // Event handlers; set them before Open. The cash drawer raises only
  // StatusUpdate and DirectIO events.
  void OnStatusUpdate(StatusUpdateHandler h);
  void OnError(ErrorHandler h);
  void OnOutputComplete(OutputCompleteHandler h);
  void OnDirectIO(DirectIOHandler h);

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
  // cannot perform the call. Defined with the dispatch types, inside the library.
  int32_t CallLong(const char* member, std::vector<com::Variant> args);

 private:
  // Everything behind the interface: the Service Object, the event sink, the
  // opening thread's queue. Kept out of this header so that the installed API
  // carries no dispatch or platform types and the object's layout is private.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace opos::control
