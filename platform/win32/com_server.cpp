// The three exports of a Service Object DLL as COM calls them. The library's
// own entry points (built under the names Opos* on this system) hand out the
// layer's factories; these wrap them for COM.
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/dispatch.h"
#include "platform/win32/com_bridge.h"
#include "platform/win32/win_api.h"

extern "C" opos::com::HRESULT OposDllGetClassObject(const opos::com::Guid& clsid,
                                                    opos::com::IClassFactory** out);
extern "C" opos::com::HRESULT OposDllCanUnloadNow();
extern "C" opos::com::HRESULT OposDllRegisterServer();

// COM interfaces are released through their own Release, never deleted
// through a base pointer: their lack of a virtual destructor is by design.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace {

using namespace opos;

// The COM face of one of the library's factories. Like them it lives as long
// as the library, so holding it keeps nothing alive (DllCanUnloadNow counts
// objects and locks only, as on every system).
class ComClassFactory final : public ::IClassFactory {
 public:
  explicit ComClassFactory(com::IClassFactory* inner) : inner_(inner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return com::E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<::IClassFactory*>(this);
      AddRef();
      return com::S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return com::E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    com::IDispatch* object = nullptr;
    HRESULT hr = inner_->CreateInstance(&object);
    if (FAILED(hr) || !object) return FAILED(hr) ? hr : com::E_FAIL;
    ::IDispatch* exposed = platform::win32::ExposeToCom(object);
    object->Release();
    hr = exposed->QueryInterface(riid, out);
    exposed->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override { return inner_->LockServer(lock != FALSE); }

 private:
  com::IClassFactory* inner_;
};

// One COM factory per library factory, made on first use.
ComClassFactory* ComFactoryFor(com::IClassFactory* inner) {
  static std::mutex lock;
  static std::vector<std::pair<com::IClassFactory*, std::unique_ptr<ComClassFactory>>> made;
  std::lock_guard<std::mutex> g(lock);
  for (auto& [key, factory] : made) {
    if (key == inner) return factory.get();
  }
  made.emplace_back(inner, std::make_unique<ComClassFactory>(inner));
  return made.back().second.get();
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return com::E_POINTER;
  *out = nullptr;
  com::IClassFactory* inner = nullptr;
  HRESULT hr = OposDllGetClassObject(platform::win32::FromComGuid(clsid), &inner);
  if (FAILED(hr) || !inner) return FAILED(hr) ? hr : com::CLASS_E_CLASSNOTAVAILABLE;
  hr = ComFactoryFor(inner)->QueryInterface(riid, out);
  inner->Release();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return OposDllCanUnloadNow();
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  return OposDllRegisterServer();
}
