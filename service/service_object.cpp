#include "service/service_object.h"

#include <strings.h>

#include <cstdio>

#include "platform/clock.h"
#include "platform/registry_store.h"
#include "service/config_reader.h"
#include "service/object_count.h"

namespace opos {

using com::HRESULT;
using com::Variant;
using com::VT;

CServiceObject::CServiceObject(const LibraryProfile& profile, bool drawer)
    : profile_(profile), drawer_(drawer), port_(profile.createPort()) {
  ObjectCount::Increment();
}

CServiceObject::~CServiceObject() {
  // The derived destructor has already released the device (its threads use
  // derived members); this is only a safety net for the event thread.
  events_.Stop();
  ObjectCount::Decrement();
}

uint32_t CServiceObject::AddRef() {
  return refs_.fetch_add(1) + 1;
}

uint32_t CServiceObject::Release() {
  const uint32_t left = refs_.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT CServiceObject::GetIDsOfNames(const std::string& name, int32_t* dispid) {
  return Members().Lookup(name, dispid);
}

namespace {

constexpr size_t kTracedTextMax = 64;

std::string TraceValue(const Variant& v) {
  auto text = [](const std::string& s) {
    std::string out = "\"";
    for (size_t i = 0; i < s.size() && i < kTracedTextMax; ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02x", c);
        out += esc;
      } else {
        out += static_cast<char>(c);
      }
    }
    out += "\"";
    if (s.size() > kTracedTextMax) out += "... (" + std::to_string(s.size()) + " bytes)";
    return out;
  };
  switch (v.vt) {
    case VT::Long:
      return std::to_string(v.lVal);
    case VT::LongRef:
      return v.plVal ? "&" + std::to_string(*v.plVal) : "&null";
    case VT::String:
      return text(v.strVal);
    case VT::StringRef:
      return v.pstrVal ? "&" + text(*v.pstrVal) : "&null";
    case VT::Dispatch:
      return "object";
    default:
      return "-";
  }
}

}  // namespace

HRESULT CServiceObject::Invoke(int32_t dispid, std::vector<Variant>& args, Variant* result) {
  const HRESULT hr = Members().Check(dispid, args);
  if (!com::Succeeded(hr)) return hr;
  const com::Member* m = Members().Find(dispid);
  Variant ignored;
  if (!result) result = &ignored;
  std::shared_ptr<platform::TraceWriter> trace = trace_;
  if (trace) {
    std::string line = std::string("call ") + m->name + "(";
    for (size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + TraceValue(args[i]);
    trace->Line(line + ")");
  }
  HRESULT done = com::S_OK;
  if (!CallCommonMember(m->name, args, result))
    done = CallMember(static_cast<size_t>(dispid - 1), args, result);
  // OpenService may have just turned the trace on.
  if (!trace) trace = trace_;
  if (trace) {
    trace->Line(std::string("done ") + m->name + " -> " + TraceValue(*result) + ", ResultCode " +
                std::to_string(resultCode_.load()) + ", extended " +
                std::to_string(resultCodeExtended_.load()));
  }
  return done;
}

void CServiceObject::TraceOrConsole(std::string_view line) {
  if (trace_) {
    std::string_view text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    trace_->Line(text);
    return;
  }
  // Standard error: standard output belongs to the application (opos run
  // promises JSON lines only there).
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void CServiceObject::TraceEvent(const char* what, const CSOEvent& record) {
  static const char* const kKinds[] = {"?", "?", "DirectIO", "Error", "OutputComplete", "StatusUpdate"};
  const char* kind = record.kind >= 0 && record.kind <= SOE_STATUSUPDATE ? kKinds[record.kind] : "?";
  trace_->Line(std::string(what) + " " + kind + " " + std::to_string(record.param1) + " " +
               std::to_string(record.param2) + " " + std::to_string(record.param3) + " " +
               std::to_string(record.param4));
}

namespace {
int32_t L(const Variant& v) {
  int32_t x = 0;
  v.AsLong(&x);
  return x;
}
std::string S(const Variant& v) {
  std::string x;
  v.AsString(&x);
  return x;
}
}  // namespace

bool CServiceObject::CallCommonMember(const std::string& name, std::vector<Variant>& a, Variant* r) {
  auto is = [&](const char* n) { return strcasecmp(name.c_str(), n) == 0; };
  if (is("COFreezeEvents"))
    *r = Variant::Long(COFreezeEvents(L(a[0])));
  else if (is("GetPropertyNumber"))
    *r = Variant::Long(GetPropertyNumber(L(a[0])));
  else if (is("SetPropertyNumber"))
    SetPropertyNumber(L(a[0]), L(a[1]));
  else if (is("GetPropertyString"))
    *r = Variant::String(GetPropertyString(L(a[0])));
  else if (is("SetPropertyString"))
    SetPropertyString(L(a[0]), S(a[1]));
  else if (is("OpenService"))
    *r = Variant::Long(OpenService(S(a[0]), S(a[1]), a[2].pdispVal));
  else if (is("ClaimDevice") || is("Claim"))
    *r = Variant::Long(ClaimDevice(L(a[0])));
  else if (is("ReleaseDevice") || is("Release"))
    *r = Variant::Long(ReleaseDevice());
  else if (is("CloseService") || is("Close"))
    *r = Variant::Long(CloseService());
  else
    return false;
  return true;
}

int32_t CServiceObject::State() const {
  std::lock_guard<std::mutex> g(stateLock_);
  return state_;
}

void CServiceObject::SetState(int32_t state) {
  std::lock_guard<std::mutex> g(stateLock_);
  state_ = state;
}

int32_t CServiceObject::OpenService(const std::string&, const std::string& deviceName, com::IDispatch* co) {
  std::string error;
  auto store = reg::Store::Open(reg::Store::DefaultPath(), &error);
  if (!store) return SetResult(OPOS_E_NOSERVICE);
  const char* classKey = drawer_ ? kCashDrawerClassKey : kPosPrinterClassKey;
  const std::string keyPath = ResolveDeviceKey(*store, classKey, deviceName);
  if (keyPath.empty()) return SetResult(OPOS_E_NOSERVICE);

  controlObject_ = co;
  std::vector<int32_t> dispids;
  for (const std::string& method : EventMethodNames()) {
    int32_t id = 0;
    if (!co || !com::Succeeded(co->GetIDsOfNames(method, &id))) {
      controlObject_ = nullptr;
      return SetResult(OPOS_E_NOSERVICE);
    }
    dispids.push_back(id);
  }
  eventDispids_ = std::move(dispids);

  DeviceConfig config;
  if (!ReadDeviceConfig(*store, keyPath, profile_.transport, drawer_, &config)) {
    return SetResult(OPOS_E_NOSERVICE);
  }
  config_ = config;
  trace_ = platform::TraceWriter::Open(config_.TraceFile, deviceName);
  port_->trace.store(trace_.get());
  openingQueue_ = platform::MessageQueue::ForCurrentThread();
  opened_ = true;

  binaryConversion_ = 0;
  powerState_ = OPOS_PS_UNKNOWN;
  powerNotify_ = OPOS_PN_DISABLED;
  capPowerReporting_ = drawer_ ? OPOS_PR_NONE : OPOS_PR_STANDARD;
  SetState(OPOS_S_IDLE);
  return SetResult(OPOS_SUCCESS);
}

int32_t CServiceObject::CloseService() {
  // From inside this object's own event handler the release would wait for
  // the handler itself.
  if (events_.InDeliveryOnThisThread()) return SetResult(OPOS_E_ILLEGAL);
  if (claimed_.load()) ReleaseDevice();
  SetState(OPOS_S_CLOSED);
  return SetResult(OPOS_SUCCESS);
}

int32_t CServiceObject::ClaimDevice(int32_t timeout) {
  resultCodeExtended_ = 0;
  if (claimed_.load()) return OPOS_SUCCESS;
  if (timeout < 0) return SetResult(OPOS_E_ILLEGAL);
  // Without a successful OpenService there is no configuration to claim with.
  if (!opened_) return SetResult(OPOS_E_CLOSED);
  if (timeout < profile_.minClaimTimeoutMs) timeout = profile_.minClaimTimeoutMs;

  port_->SetName(config_.DeviceName);
  // The port must know its service before Open: a joining port object hands
  // it to the port objects already on the device.
  port_->SetOwner(dynamic_cast<IPrinterLink*>(this), dynamic_cast<IDrawerLink*>(this));
  bool failedBefore = false;
  uint32_t firstFailure = 0;
  while (port_->Open(config_) != 1) {
    platform::SleepMs(100);
    if (!failedBefore) {
      failedBefore = true;
      firstFailure = platform::TickCount();
    } else if (platform::TickCount() - firstFailure > static_cast<uint32_t>(timeout)) {
      return SetResult(OPOS_E_TIMEOUT);
    }
  }
  const int32_t c = port_->StartMonitor(static_cast<uint32_t>(timeout));
  if (c != 0) {
    port_->Close();
    if (!drawer_) resultCodeExtended_ = (c == OPOS_E_ILLEGAL) ? 10007 : c;
    return SetResult(OPOS_E_ILLEGAL);
  }

  stop_ = false;
  events_.Start(
      openingQueue_,
      [this](CSOEvent& r) {
        if (trace_) TraceEvent("deliver", r);
        DeliverEvent(r);
      },
      freezeEvents_.load() != 0, coFreeze_.load() != 0);
  OnClaimStartWorkers();
  checkHealthText_ = drawer_ ? "Not Executed" : "";
  platform::PumpWait();
  OnClaimed();
  claimed_ = 1;
  deviceEnabled_ = 0;
  return SetResult(OPOS_SUCCESS);
}

int32_t CServiceObject::ReleaseDevice() {
  if (!claimed_.load()) return SetResult(OPOS_E_ILLEGAL);
  if (events_.InDeliveryOnThisThread()) return SetResult(OPOS_E_ILLEGAL);
  if (deviceEnabled_.load()) deviceEnabled_ = 0;
  OnReleaseDrain();
  stop_ = true;
  platform::PumpWait();
  OnReleaseStopWorkers();
  events_.Stop();
  port_->Close();
  const int pumps = drawer_ ? 1 : profile_.releasePumpWaitsPrinter;
  for (int i = 0; i < pumps; ++i) platform::PumpWait();
  claimed_ = 0;
  OnReleased();
  deviceEnabled_ = 0;
  return SetResult(OPOS_SUCCESS);
}

int32_t CServiceObject::COFreezeEvents(int32_t freeze) {
  coFreeze_ = freeze;
  events_.SetCoFreeze(freeze != 0);
  return OPOS_SUCCESS;
}

int32_t CServiceObject::GetPropertyNumber(int32_t index) {
  switch (index) {
    case PIDX_Claimed:
      return claimed_;
    case PIDX_DeviceEnabled:
      return deviceEnabled_;
    case PIDX_FreezeEvents:
      return freezeEvents_;
    case PIDX_ResultCode:
      return resultCode_;
    case PIDX_ResultCodeExtended:
      return resultCodeExtended_;
    case PIDX_ServiceObjectVersion:
      return drawer_ ? profile_.drawerVersion : profile_.printerVersion;
    case PIDX_State:
      return State();
    case PIDX_BinaryConversion:
      return binaryConversion_;
    case PIDX_PowerNotify:
      return powerNotify_;
    case PIDX_PowerState:
      return powerState_;
    case PIDX_CapPowerReporting:
      return capPowerReporting_;
    default:
      return 0;
  }
}

void CServiceObject::SetPropertyNumber(int32_t index, int32_t value) {
  switch (index) {
    case PIDX_DeviceEnabled:
      if (!claimed_.load()) {
        SetResult(OPOS_E_NOTCLAIMED);
        return;
      }
      {
        const int32_t was = deviceEnabled_.exchange(value != 0 ? 1 : 0);
        if (!was && value != 0) OnEnabled();
      }
      SetResult(OPOS_SUCCESS);
      return;
    case PIDX_FreezeEvents:
      freezeEvents_ = value;
      events_.SetFreeze(value != 0);
      SetResult(OPOS_SUCCESS);
      return;
    case PIDX_BinaryConversion:
      binaryConversion_ = value;
      SetResult(OPOS_SUCCESS);
      return;
    case PIDX_PowerNotify:
      if (drawer_) {
        if (value == 1 && capPowerReporting_.load() == OPOS_PR_NONE) {
          SetResult(OPOS_E_ILLEGAL);
          return;
        }
        powerNotify_ = value;
      } else {
        if (deviceEnabled_.load()) {
          SetResult(OPOS_E_ILLEGAL);
          return;
        }
        powerNotify_ = value;
        if (value == 0) powerState_ = OPOS_PS_UNKNOWN;
      }
      SetResult(OPOS_SUCCESS);
      return;
    default:
      return;  // not settable: nothing changes, ResultCode included
  }
}

std::string CServiceObject::GetPropertyString(int32_t index) {
  switch (index) {
    case PIDX_CheckHealthText:
      return checkHealthText_;
    case PIDX_DeviceDescription:
      return drawer_ ? "OPOS Cash Drawer" : "OPOS POSPrinter";
    case PIDX_DeviceName:
      return drawer_ ? profile_.drawerProgId : profile_.printerProgId;
    case PIDX_ServiceObjectDescription:
      return drawer_ ? "OPOS Cash Drawer Service Object" : "OPOS POSPrinter Service Object";
    case PIDXx_LastErrorDetail:
      return port_ ? port_->FailureDetail() : std::string();
    default:
      return {};
  }
}

void CServiceObject::CallControlObject(size_t method, std::vector<Variant>& args) {
  if (!controlObject_ || method >= eventDispids_.size()) return;
  Variant ignored;
  controlObject_->Invoke(eventDispids_[method], args, &ignored);
}

}  // namespace opos
