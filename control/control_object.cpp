#include "opos/control_object.h"

#include <strings.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "common/opos.h"
#include "control/device_lookup.h"
#include "control/members.h"
#include "platform/com_registry.h"
#include "platform/message_queue.h"
#include "platform/registry_store.h"

namespace opos::control {

using com::HRESULT;
using com::Variant;
using com::VT;

namespace {

bool Is(const char* a, const char* b) {
  return strcasecmp(a, b) == 0;
}

int32_t LongOf(const Variant& v) {
  int32_t x = 0;
  v.AsLong(&x);
  return x;
}

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

bool IsPropertyRead(const com::Member& m) {
  return Is(m.name, "GetPropertyNumber") || Is(m.name, "GetPropertyString");
}

// Whatever the call returned, the result has the member's declared kind.
bool ResultFits(const com::Member& m, const Variant& r) {
  if (!m.hasResult) return true;
  return m.resultIsString ? r.vt == VT::String : r.vt == VT::Long;
}

}  // namespace

struct ControlObject::Impl {
  class Sink;

  explicit Impl(DeviceClass c);
  ~Impl();

  // True while open on another thread than the caller's.
  bool ForeignThread() const;
  bool IsOpen() const { return so_ != nullptr; }
  int32_t Local(int32_t rc);
  int32_t Open(const std::string& deviceName);
  int32_t Close();
  HRESULT Invoke(const std::string& member, std::vector<Variant>& args, Variant* result);
  HRESULT Forward(size_t index, const com::Member& m, std::vector<Variant>& args, Variant* result);
  void AnswerClosed(const com::Member& m, const std::vector<Variant>& args, Variant* result);
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
  int32_t resultCode_ = OPOS_E_CLOSED;
  bool localResult_ = true;
  int inEvent_ = 0;  // depth of this object's handlers running on the opening thread

  StatusUpdateHandler onStatusUpdate_;
  ErrorHandler onError_;
  OutputCompleteHandler onOutputComplete_;
  DirectIOHandler onDirectIO_;
};

// The event sink handed to the Service Object in OpenService. Its lifetime is
// the Control Object's; the Service Object holds it without a reference.
class ControlObject::Impl::Sink final : public com::IDispatch {
 public:
  explicit Sink(Impl* co) : co_(co) {}

  uint32_t AddRef() override { return 2; }
  uint32_t Release() override { return 1; }
  HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override {
    return Table().Lookup(name, dispid);
  }
  HRESULT Invoke(int32_t dispid, std::vector<Variant>& args, Variant* result) override;

  // The owner is going away while one of its own deliveries runs.
  void Detach() { co_ = nullptr; }

 private:
  enum : int32_t { kDirectIO = 1, kError, kOutputComplete, kStatusUpdate };
  static const com::MemberTable& Table() {
    static const com::MemberTable table({
        {"SODirectIO", {VT::Long, VT::LongRef, VT::StringRef}, false},
        {"SOError", {VT::Long, VT::Long, VT::Long, VT::LongRef}, false},
        {"SOOutputComplete", {VT::Long}, false},
        {"SOStatusUpdate", {VT::Long}, false},
    });
    return table;
  }

  Impl* co_;
};

HRESULT ControlObject::Impl::Sink::Invoke(int32_t dispid, std::vector<Variant>& args, Variant* result) {
  if (result) *result = Variant();
  const HRESULT hr = Table().Check(dispid, args);
  if (!com::Succeeded(hr)) return hr;
  if (!co_) return com::S_OK;
  Impl& co = *co_;
  ++co.inEvent_;
  // Handlers are copied first: one may replace itself while it runs.
  try {
    switch (dispid) {
      case kDirectIO:
        if (auto h = co.onDirectIO_) h(LongOf(args[0]), *args[1].plVal, *args[2].pstrVal);
        break;
      case kError:
        if (auto h = co.onError_) h(LongOf(args[0]), LongOf(args[1]), LongOf(args[2]), *args[3].plVal);
        break;
      case kOutputComplete:
        if (auto h = co.onOutputComplete_) h(LongOf(args[0]));
        break;
      case kStatusUpdate:
        if (auto h = co.onStatusUpdate_) h(LongOf(args[0]));
        break;
      default:
        break;
    }
  } catch (...) {
    // Nothing may unwind through the Service Object's delivery.
  }
  --co.inEvent_;
  return com::S_OK;
}

ControlObject::Impl::Impl(DeviceClass c) : class_(c), sink_(std::make_unique<Sink>(this)) {}

ControlObject::Impl::~Impl() {
  if (!so_) return;
  if (inEvent_ > 0) {
    // Destroyed from inside its own handler: closing would wait for the very
    // delivery that is running. The Service Object and the sink are left alive
    // (the sink detached) rather than freed under a running delivery.
    sink_->Detach();
    (void)sink_.release();
    so_ = nullptr;
    return;
  }
  DoClose();
}

bool ControlObject::Impl::ForeignThread() const {
  const std::thread::id owner = owner_.load();
  return owner != std::thread::id() && owner != std::this_thread::get_id();
}

int32_t ControlObject::Impl::Local(int32_t rc) {
  resultCode_ = rc;
  localResult_ = true;
  return rc;
}

int32_t ControlObject::Impl::Open(const std::string& deviceName) {
  if (ForeignThread()) return OPOS_E_ILLEGAL;
  if (IsOpen()) {
    lastError_ = "the device is already open";
    return Local(OPOS_E_ILLEGAL);
  }
  lastError_.clear();
  openedName_ = deviceName;
  const std::string path = registryPath_.empty() ? reg::Store::DefaultPath() : registryPath_;
  // Opening a store creates it; a Control Object only reads, so a missing one
  // is reported, not made.
  if (!reg::Store::Exists(path)) {
    lastError_ = "no registry store at " + path;
    return Local(OPOS_E_NOSERVICE);
  }
  std::string error;
  std::unique_ptr<reg::Store> store = reg::Store::Open(path, &error);
  if (!store) {
    lastError_ = error;
    return Local(OPOS_E_NOSERVICE);
  }
  DeviceEntry entry;
  if (!FindDevice(*store, class_, deviceName, &entry, &error)) {
    lastError_ = error;
    return Local(OPOS_E_NOSERVICE);
  }
  com::IDispatch* so = nullptr;
  HRESULT hr = com::CreateObjectByProgId(*store, entry.progId, &so, &error);
  store.reset();
  if (!com::Succeeded(hr) || !so) {
    lastError_ = error.empty() ? "cannot create " + entry.progId + " (" + Hex(hr) + ")" : error;
    return Local(OPOS_E_NOSERVICE);
  }
  int32_t id = 0;
  if (!com::Succeeded(so->GetIDsOfNames("OpenService", &id))) {
    so->Release();
    lastError_ = entry.progId + " has no OpenService member";
    return Local(OPOS_E_NOSERVICE);
  }
  std::vector<Variant> args{Variant::String(DeviceClassName(class_)), Variant::String(deviceName),
                            Variant::Dispatch(sink_.get())};
  Variant r;
  hr = so->Invoke(id, args, &r);
  if (!com::Succeeded(hr) || r.vt != VT::Long) {
    so->Release();
    lastError_ = "OpenService of " + entry.progId + " failed (" + Hex(hr) + ")";
    return Local(OPOS_E_NOSERVICE);
  }
  if (r.lVal != OPOS_SUCCESS) {
    so->Release();
    lastError_ = "OpenService of " + entry.progId + " answered " + std::to_string(r.lVal);
    return Local(r.lVal);
  }
  so_ = so;
  owner_ = std::this_thread::get_id();
  queue_ = platform::MessageQueue::ForCurrentThread();
  queueThread_ = std::this_thread::get_id();
  const size_t n = ControlMembers(class_).Members().size();
  dispids_.assign(n, 0);
  dispidKnown_.assign(n, false);
  resultCode_ = OPOS_SUCCESS;
  localResult_ = false;
  return OPOS_SUCCESS;
}

int32_t ControlObject::Impl::Close() {
  if (ForeignThread()) return OPOS_E_ILLEGAL;
  if (!IsOpen()) {
    lastError_ = "the device is not open";
    return Local(OPOS_E_CLOSED);
  }
  if (inEvent_ > 0) {
    lastError_ = "Close inside the device's own event handler";
    return Local(OPOS_E_ILLEGAL);
  }
  lastError_.clear();
  return DoClose();
}

int32_t ControlObject::Impl::DoClose() {
  int32_t rc = OPOS_E_NOSERVICE;
  int32_t id = 0;
  std::vector<Variant> none;
  Variant r;
  if (com::Succeeded(so_->GetIDsOfNames("CloseService", &id)) && com::Succeeded(so_->Invoke(id, none, &r)) &&
      r.vt == VT::Long) {
    rc = r.lVal;
  }
  // The Service Object goes even when CloseService failed: nothing else could
  // be done with it.
  com::IDispatch* so = so_;
  so_ = nullptr;
  owner_ = std::thread::id();
  dispids_.clear();
  dispidKnown_.clear();
  so->Release();
  return Local(rc);
}

HRESULT ControlObject::Impl::Invoke(const std::string& member, std::vector<Variant>& args, Variant* result) {
  Variant ignored;
  if (!result) result = &ignored;
  *result = Variant();
  const com::MemberTable& table = ControlMembers(class_);
  int32_t id = 0;
  HRESULT hr = table.Lookup(member, &id);
  if (!com::Succeeded(hr)) return hr;
  hr = table.Check(id, args);
  if (!com::Succeeded(hr)) return hr;
  const com::Member& m = *table.Find(id);

  if (ForeignThread()) {
    // Refused without touching anything: the Service Object is not safe to
    // enter from a second thread.
    if (Is(m.name, "GetPropertyNumber"))
      *result = Variant::Long(0);
    else if (m.resultIsString)
      *result = Variant::String("");
    else if (m.hasResult)
      *result = Variant::Long(OPOS_E_ILLEGAL);
    return com::S_OK;
  }
  if (Is(m.name, "Close") || Is(m.name, "CloseService")) {
    *result = Variant::Long(Close());
    return com::S_OK;
  }
  if (!IsOpen()) {
    AnswerClosed(m, args, result);
    return com::S_OK;
  }
  if (Is(m.name, "GetPropertyNumber") && localResult_) {
    const int32_t index = LongOf(args[0]);
    if (index == PIDX_ResultCode || index == PIDX_ResultCodeExtended) {
      *result = Variant::Long(index == PIDX_ResultCode ? resultCode_ : 0);
      return com::S_OK;
    }
  }
  if (inEvent_ > 0 && (Is(m.name, "ReleaseDevice") || Is(m.name, "Release"))) {
    lastError_ = std::string(m.name) + " inside the device's own event handler";
    *result = Variant::Long(Local(OPOS_E_ILLEGAL));
    return com::S_OK;
  }
  return Forward(static_cast<size_t>(id - 1), m, args, result);
}

HRESULT ControlObject::Impl::Forward(size_t index, const com::Member& m, std::vector<Variant>& args,
                                     Variant* result) {
  if (!dispidKnown_[index]) {
    int32_t id = 0;
    const HRESULT hr = so_->GetIDsOfNames(m.name, &id);
    if (!com::Succeeded(hr)) {
      lastError_ = std::string("the Service Object has no member ") + m.name;
      Local(OPOS_E_NOSERVICE);
      return hr;
    }
    dispids_[index] = id;
    dispidKnown_[index] = true;
  }
  HRESULT hr = so_->Invoke(dispids_[index], args, result);
  if (com::Succeeded(hr) && !ResultFits(m, *result)) hr = com::E_FAIL;
  if (!com::Succeeded(hr)) {
    lastError_ = std::string("the Service Object failed the call of ") + m.name + " (" + Hex(hr) + ")";
    *result = Variant();
    Local(OPOS_E_NOSERVICE);
    return hr;
  }
  if (!m.hasResult) *result = Variant();
  // Reading a property never changes ResultCode.
  if (!IsPropertyRead(m)) localResult_ = false;
  return com::S_OK;
}

void ControlObject::Impl::AnswerClosed(const com::Member& m, const std::vector<Variant>& args,
                                       Variant* result) {
  if (Is(m.name, "GetPropertyNumber")) {
    const int32_t index = LongOf(args[0]);
    int32_t v = 0;
    if (index == PIDX_ResultCode)
      v = resultCode_;
    else if (index == PIDX_State)
      v = OPOS_S_CLOSED;
    *result = Variant::Long(v);
    return;
  }
  if (Is(m.name, "GetPropertyString")) {
    *result = Variant::String("");
    return;
  }
  lastError_ = "the device is not open";
  Local(OPOS_E_CLOSED);
  if (m.hasResult) *result = Variant::Long(OPOS_E_CLOSED);
}

ControlObject::ControlObject(DeviceClass c) : impl_(std::make_unique<Impl>(c)) {}
ControlObject::~ControlObject() = default;

DeviceClass ControlObject::Class() const {
  return impl_->class_;
}
void ControlObject::SetRegistryPath(const std::string& path) {
  impl_->registryPath_ = path;
}
int32_t ControlObject::Open(const std::string& deviceName) {
  return impl_->Open(deviceName);
}
int32_t ControlObject::Close() {
  return impl_->Close();
}
bool ControlObject::IsOpen() const {
  return impl_->IsOpen();
}
const std::string& ControlObject::OpenedName() const {
  return impl_->openedName_;
}
const std::string& ControlObject::LastErrorText() const {
  return impl_->lastError_;
}
int32_t ControlObject::Invoke(const std::string& member, std::vector<Variant>& args, Variant* result) {
  return impl_->Invoke(member, args, result);
}
void ControlObject::OnStatusUpdate(StatusUpdateHandler h) {
  impl_->onStatusUpdate_ = std::move(h);
}
void ControlObject::OnError(ErrorHandler h) {
  impl_->onError_ = std::move(h);
}
void ControlObject::OnOutputComplete(OutputCompleteHandler h) {
  impl_->onOutputComplete_ = std::move(h);
}
void ControlObject::OnDirectIO(DirectIOHandler h) {
  impl_->onDirectIO_ = std::move(h);
}

int32_t ControlObject::CallLong(const char* member, std::vector<Variant> args) {
  Variant r;
  const HRESULT hr = Invoke(member, args, &r);
  if (!com::Succeeded(hr) || r.vt != VT::Long) return OPOS_E_NOSERVICE;
  return r.lVal;
}

int32_t ControlObject::ClaimDevice(int32_t timeout) {
  return CallLong("ClaimDevice", {Variant::Long(timeout)});
}
int32_t ControlObject::ReleaseDevice() {
  return CallLong("ReleaseDevice", {});
}
int32_t ControlObject::CheckHealth(int32_t level) {
  return CallLong("CheckHealth", {Variant::Long(level)});
}
int32_t ControlObject::COFreezeEvents(int32_t freeze) {
  return CallLong("COFreezeEvents", {Variant::Long(freeze)});
}

int32_t ControlObject::DirectIO(int32_t command, int32_t& data, std::string& text) {
  return CallLong("DirectIO", {Variant::Long(command), Variant::LongRef(&data), Variant::StringRef(&text)});
}

int32_t ControlObject::GetPropertyNumber(int32_t index) {
  std::vector<Variant> args{Variant::Long(index)};
  Variant r;
  if (!com::Succeeded(Invoke("GetPropertyNumber", args, &r))) return 0;
  return LongOf(r);
}

void ControlObject::SetPropertyNumber(int32_t index, int32_t value) {
  std::vector<Variant> args{Variant::Long(index), Variant::Long(value)};
  (void)Invoke("SetPropertyNumber", args, nullptr);
}

std::string ControlObject::GetPropertyString(int32_t index) {
  std::vector<Variant> args{Variant::Long(index)};
  Variant r;
  std::string s;
  if (com::Succeeded(Invoke("GetPropertyString", args, &r))) r.AsString(&s);
  return s;
}

void ControlObject::SetPropertyString(int32_t index, const std::string& value) {
  std::vector<Variant> args{Variant::Long(index), Variant::String(value)};
  (void)Invoke("SetPropertyString", args, nullptr);
}

int32_t ControlObject::ResultCode() {
  return GetPropertyNumber(PIDX_ResultCode);
}
int32_t ControlObject::ResultCodeExtended() {
  return GetPropertyNumber(PIDX_ResultCodeExtended);
}
int32_t ControlObject::State() {
  return GetPropertyNumber(PIDX_State);
}
bool ControlObject::Claimed() {
  return GetPropertyNumber(PIDX_Claimed) != 0;
}
bool ControlObject::DeviceEnabled() {
  return GetPropertyNumber(PIDX_DeviceEnabled) != 0;
}
void ControlObject::SetDeviceEnabled(bool enabled) {
  SetPropertyNumber(PIDX_DeviceEnabled, enabled ? 1 : 0);
}
bool ControlObject::FreezeEvents() {
  return GetPropertyNumber(PIDX_FreezeEvents) != 0;
}
void ControlObject::SetFreezeEvents(bool freeze) {
  SetPropertyNumber(PIDX_FreezeEvents, freeze ? 1 : 0);
}
int32_t ControlObject::BinaryConversion() {
  return GetPropertyNumber(PIDX_BinaryConversion);
}
void ControlObject::SetBinaryConversion(int32_t value) {
  SetPropertyNumber(PIDX_BinaryConversion, value);
}
int32_t ControlObject::PowerNotify() {
  return GetPropertyNumber(PIDX_PowerNotify);
}
void ControlObject::SetPowerNotify(int32_t value) {
  SetPropertyNumber(PIDX_PowerNotify, value);
}
int32_t ControlObject::PowerState() {
  return GetPropertyNumber(PIDX_PowerState);
}
int32_t ControlObject::CapPowerReporting() {
  return GetPropertyNumber(PIDX_CapPowerReporting);
}
int32_t ControlObject::ServiceObjectVersion() {
  return GetPropertyNumber(PIDX_ServiceObjectVersion);
}
std::string ControlObject::CheckHealthText() {
  return GetPropertyString(PIDX_CheckHealthText);
}
std::string ControlObject::DeviceDescription() {
  return GetPropertyString(PIDX_DeviceDescription);
}
std::string ControlObject::DeviceName() {
  return GetPropertyString(PIDX_DeviceName);
}
std::string ControlObject::ServiceObjectDescription() {
  return GetPropertyString(PIDX_ServiceObjectDescription);
}
std::string ControlObject::LastErrorDetail() {
  return GetPropertyString(PIDXx_LastErrorDetail);
}

int ControlObject::EventFd() const {
  return impl_->queue_ ? impl_->queue_->Fd() : -1;
}

size_t ControlObject::DispatchEvents() {
  if (impl_->queue_ && impl_->queueThread_ != std::this_thread::get_id()) return 0;
  return platform::MessageQueue::ForCurrentThread()->Dispatch();
}

bool ControlObject::PumpEvents(int ms) {
  if (impl_->queue_ && impl_->queueThread_ != std::this_thread::get_id()) return false;
  platform::MessageQueue::ForCurrentThread()->PumpFor(ms);
  return true;
}

}  // namespace opos::control
