// A stand-in Service Object library for the Control Object tests: it raises
// events synchronously inside its calls, changes by-reference arguments, can
// refuse OpenService, lacks most members and fails one call outright, so that
// every path of the Control Object's forwarding can be driven exactly.
#include <atomic>
#include <string>

#include "platform/dispatch.h"

namespace {

using namespace opos::com;

std::atomic<int> gLive{0};
std::atomic<int> gCloseServiceCalls{0};

class FakeSO final : public IDispatch {
 public:
  FakeSO() { gLive.fetch_add(1); }
  ~FakeSO() { gLive.fetch_sub(1); }

  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override {
    const uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override {
    return Table().Lookup(name, dispid);
  }

  HRESULT Invoke(int32_t dispid, std::vector<Variant>& a, Variant* r) override {
    const HRESULT hr = Table().Check(dispid, a);
    if (!Succeeded(hr)) return hr;
    Variant ignored;
    if (!r) r = &ignored;
    const std::string name = Table().Find(dispid)->name;
    int32_t l0 = 0;
    if (!a.empty()) a[0].AsLong(&l0);
    if (name == "OpenService") {
      std::string device;
      a[1].AsString(&device);
      if (device == "Refusing") {
        *r = Variant::Long(rc_ = 111);
        return S_OK;
      }
      sink_ = a[2].pdispVal;
      for (int i = 0; i < 4; ++i) {
        if (!sink_ || !Succeeded(sink_->GetIDsOfNames(kEvents[i], &events_[i]))) {
          sink_ = nullptr;
          *r = Variant::Long(rc_ = 104);
          return S_OK;
        }
      }
      *r = Variant::Long(rc_ = 0);
    } else if (name == "CloseService") {
      gCloseServiceCalls.fetch_add(1);
      *r = Variant::Long(rc_ = 0);
    } else if (name == "GetPropertyNumber") {
      *r = Variant::Long(l0 == 6 ? rc_ : l0 == 7 ? 4711 : 0);
    } else if (name == "GetPropertyString") {
      *r = Variant::String("fake " + std::to_string(l0));
    } else if (name == "ClaimDevice") {
      return E_FAIL;  // a member that exists but cannot be called
    } else if (name == "CheckHealth") {
      *r = Variant::String("not a number");  // a result of the wrong kind
    } else if (name == "DirectIO") {
      *r = Variant::Long(rc_ = DirectIO(l0, a[1].plVal, a[2].pstrVal));
    }
    return S_OK;
  }

 private:
  static constexpr const char* kEvents[4] = {"SODirectIO", "SOError", "SOOutputComplete", "SOStatusUpdate"};

  static const MemberTable& Table() {
    static const MemberTable table({
        {"OpenService", {VT::String, VT::String, VT::Dispatch}, true},
        {"CloseService", {}, true},
        {"GetPropertyNumber", {VT::Long}, true},
        {"GetPropertyString", {VT::Long}, true, true},
        {"ClaimDevice", {VT::Long}, true},
        {"CheckHealth", {VT::Long}, true},
        {"DirectIO", {VT::Long, VT::LongRef, VT::StringRef}, true},
    });
    return table;
  }

  void Raise(int which, std::vector<Variant> args) {
    Variant ignored;
    sink_->Invoke(events_[which], args, &ignored);
  }

  // Command 1: a DirectIO event on the caller's cells, then the cells changed
  // once more. Command 2: an Error event proposing retry; its answer comes back
  // in data. Command 3: StatusUpdate(data), then OutputComplete(length of text).
  int32_t DirectIO(int32_t command, int32_t* data, std::string* text) {
    switch (command) {
      case 1:
        Raise(0, {Variant::Long(7), Variant::LongRef(data), Variant::StringRef(text)});
        *data += 1;
        *text += "+";
        return 0;
      case 2: {
        int32_t response = 11;
        Raise(1, {Variant::Long(114), Variant::Long(203), Variant::Long(1), Variant::LongRef(&response)});
        *data = response;
        return 0;
      }
      case 3:
        Raise(3, {Variant::Long(*data)});
        Raise(2, {Variant::Long(static_cast<int32_t>(text->size()))});
        return 0;
      default:
        return 106;
    }
  }

  std::atomic<uint32_t> refs_{1};
  IDispatch* sink_ = nullptr;
  int32_t events_[4] = {};
  int32_t rc_ = 0;
};

class Factory final : public IClassFactory {
 public:
  uint32_t AddRef() override { return 2; }
  uint32_t Release() override { return 1; }
  HRESULT CreateInstance(IDispatch** out) override {
    *out = new FakeSO();
    return S_OK;
  }
  HRESULT LockServer(bool) override { return S_OK; }
};

Factory gFactory;

}  // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT HRESULT DllGetClassObject(const Guid&, IClassFactory** out) {
  *out = &gFactory;
  return S_OK;
}
FAKE_EXPORT HRESULT DllCanUnloadNow() {
  return gLive.load() == 0 ? S_OK : S_FALSE;
}
// Observed by the tests.
FAKE_EXPORT int FakeSoLiveObjects() {
  return gLive.load();
}
FAKE_EXPORT int FakeSoCloseServiceCalls() {
  return gCloseServiceCalls.load();
}
