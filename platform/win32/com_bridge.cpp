#include "platform/win32/com_bridge.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

// COM interfaces are released through their own Release, never deleted
// through a base pointer: their lack of a virtual destructor is by design.
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace opos::platform::win32 {

namespace {

std::string FromBstr(BSTR b) {
  return b ? Narrow(b, SysStringLen(b)) : std::string();
}

BSTR ToBstr(const std::string& s) {
  const std::wstring w = Widen(s);
  return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

class ExposedDispatch final : public ::IDispatch {
 public:
  explicit ExposedDispatch(com::IDispatch* inner) : inner_(inner) { inner_->AddRef(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return static_cast<HRESULT>(0x80004003L);
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<::IDispatch*>(this);
      AddRef();
      return 0;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = refs_.fetch_sub(1) - 1;
    if (n == 0) {
      inner_->Release();
      for (com::IDispatch* d : held_) d->Release();
      delete this;
    }
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return 0;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return com::E_POINTER;
    HRESULT hr =
        inner_->GetIDsOfNames(Narrow(names[0], wcslen(names[0])), reinterpret_cast<int32_t*>(&ids[0]));
    // Named arguments are not part of these interfaces.
    for (UINT i = 1; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      hr = com::DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT* argErr) override;

 private:
  ~ExposedDispatch() = default;
  std::atomic<ULONG> refs_{1};
  com::IDispatch* inner_;
  // The dispatch objects handed to inner as arguments: a layer object keeps
  // such a pointer (the Control Object's event sink) without a reference of
  // its own, so they live as long as inner does.
  std::mutex heldLock_;
  std::vector<com::IDispatch*> held_;
};

// One COM argument as a layer argument; the cells it points at live in the
// caller's lists until the call is over.
struct ArgCells {
  std::vector<std::unique_ptr<std::string>> strings;
  std::vector<std::pair<BSTR*, std::string*>> stringRefs;  // written back after the call
  std::vector<com::IDispatch*> wrapped;                    // kept by the called object
};

HRESULT ToLayer(VARIANT* v, com::Variant* out, ArgCells* cells) {
  while (V_VT(v) == (VT_VARIANT | VT_BYREF)) v = V_VARIANTREF(v);
  switch (V_VT(v)) {
    case VT_I4 | VT_BYREF:
      *out = com::Variant::LongRef(reinterpret_cast<int32_t*>(V_I4REF(v)));
      return 0;
    case VT_BSTR | VT_BYREF: {
      cells->strings.push_back(std::make_unique<std::string>(FromBstr(*V_BSTRREF(v))));
      cells->stringRefs.emplace_back(V_BSTRREF(v), cells->strings.back().get());
      *out = com::Variant::StringRef(cells->strings.back().get());
      return 0;
    }
    case VT_BSTR:
      *out = com::Variant::String(FromBstr(V_BSTR(v)));
      return 0;
    case VT_DISPATCH:
    case VT_EMPTY:
    case VT_NULL: {
      ::IDispatch* d = V_VT(v) == VT_DISPATCH ? V_DISPATCH(v) : nullptr;
      com::IDispatch* w = d ? WrapFromCom(d) : nullptr;
      if (w) cells->wrapped.push_back(w);
      *out = com::Variant::Dispatch(w);
      return 0;
    }
    default: {
      // Any other number (VT_I2, VT_BOOL, VT_UI4, ...) as a LONG by value.
      VARIANT n;
      VariantInit(&n);
      if (FAILED(VariantChangeType(&n, v, 0, VT_I4))) return com::DISP_E_TYPEMISMATCH;
      *out = com::Variant::Long(V_I4(&n));
      return 0;
    }
  }
}

HRESULT STDMETHODCALLTYPE ExposedDispatch::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                                  VARIANT* result, EXCEPINFO*, UINT* argErr) {
  if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  const UINT count = params ? params->cArgs : 0;
  std::vector<com::Variant> args(count);
  ArgCells cells;
  HRESULT hr = 0;
  // COM passes the arguments last first.
  for (UINT i = 0; i < count && SUCCEEDED(hr); ++i) {
    hr = ToLayer(&params->rgvarg[count - 1 - i], &args[i], &cells);
    if (FAILED(hr) && argErr) *argErr = count - 1 - i;
  }
  com::Variant res;
  if (SUCCEEDED(hr)) hr = inner_->Invoke(id, args, &res);
  for (auto& [bstr, text] : cells.stringRefs) {
    SysFreeString(*bstr);
    *bstr = ToBstr(*text);
  }
  if (!cells.wrapped.empty()) {
    std::lock_guard<std::mutex> g(heldLock_);
    held_.insert(held_.end(), cells.wrapped.begin(), cells.wrapped.end());
  }
  if (SUCCEEDED(hr) && result) {
    VariantInit(result);
    if (res.vt == com::VT::Long) {
      V_VT(result) = VT_I4;
      V_I4(result) = res.lVal;
    } else if (res.vt == com::VT::String) {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = ToBstr(res.strVal);
    }
  }
  return hr;
}

class ComObjectWrapper final : public com::IDispatch, private com::RefCounted {
 public:
  explicit ComObjectWrapper(::IDispatch* outer) : outer_(outer) { outer_->AddRef(); }
  uint32_t AddRef() override { return AddRefImpl(); }
  uint32_t Release() override {
    const uint32_t n = ReleaseImpl();
    if (n == 0) {
      outer_->Release();
      delete this;
    }
    return n;
  }
  com::HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override {
    std::wstring w = Widen(name);
    LPOLESTR names[] = {w.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = outer_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (dispid) *dispid = id;
    return hr;
  }
  com::HRESULT Invoke(int32_t dispid, std::vector<com::Variant>& args, com::Variant* result) override;

 private:
  ~ComObjectWrapper() = default;
  ::IDispatch* outer_;
};

com::HRESULT ComObjectWrapper::Invoke(int32_t dispid, std::vector<com::Variant>& args, com::Variant* result) {
  const size_t count = args.size();
  std::vector<VARIANTARG> vars(count);
  std::vector<BSTR> refCells(count, nullptr);
  std::vector<::IDispatch*> exposed;
  HRESULT hr = 0;
  for (size_t i = 0; i < count; ++i) {
    VARIANTARG& v = vars[count - 1 - i];  // last first
    VariantInit(&v);
    const com::Variant& a = args[i];
    switch (a.vt) {
      case com::VT::Long:
        V_VT(&v) = VT_I4;
        V_I4(&v) = a.lVal;
        break;
      case com::VT::LongRef:
        V_VT(&v) = VT_I4 | VT_BYREF;
        V_I4REF(&v) = reinterpret_cast<LONG*>(a.plVal);
        break;
      case com::VT::String:
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ToBstr(a.strVal);
        break;
      case com::VT::StringRef:
        refCells[i] = ToBstr(a.pstrVal ? *a.pstrVal : std::string());
        V_VT(&v) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&v) = &refCells[i];
        break;
      case com::VT::Dispatch:
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = a.pdispVal ? ExposeToCom(a.pdispVal) : nullptr;
        if (V_DISPATCH(&v)) exposed.push_back(V_DISPATCH(&v));
        break;
      case com::VT::Empty:
        break;
    }
  }
  DISPPARAMS params{count ? vars.data() : nullptr, nullptr, static_cast<UINT>(count), 0};
  VARIANT res;
  VariantInit(&res);
  UINT argErr = 0;
  hr =
      outer_->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &res, nullptr, &argErr);
  for (size_t i = 0; i < count; ++i) {
    if (args[i].vt == com::VT::String) SysFreeString(V_BSTR(&vars[count - 1 - i]));
    if (args[i].vt == com::VT::StringRef) {
      if (SUCCEEDED(hr) && args[i].pstrVal) *args[i].pstrVal = FromBstr(refCells[i]);
      SysFreeString(refCells[i]);
    }
  }
  for (::IDispatch* d : exposed) d->Release();
  if (SUCCEEDED(hr) && result) {
    if (V_VT(&res) == VT_BSTR) {
      *result = com::Variant::String(FromBstr(V_BSTR(&res)));
    } else if (V_VT(&res) != VT_EMPTY) {
      VARIANT n;
      VariantInit(&n);
      if (SUCCEEDED(VariantChangeType(&n, &res, 0, VT_I4))) *result = com::Variant::Long(V_I4(&n));
    }
  }
  VariantClear(&res);
  return hr;
}

}  // namespace

::IDispatch* ExposeToCom(com::IDispatch* inner) {
  return new ExposedDispatch(inner);
}

com::IDispatch* WrapFromCom(::IDispatch* outer) {
  return new ComObjectWrapper(outer);
}

GUID ToComGuid(const com::Guid& g) {
  GUID out;
  out.Data1 = g.d1;
  out.Data2 = g.d2;
  out.Data3 = g.d3;
  std::memcpy(out.Data4, g.d4, sizeof out.Data4);
  return out;
}

com::Guid FromComGuid(const GUID& g) {
  com::Guid out;
  out.d1 = g.Data1;
  out.d2 = g.Data2;
  out.d3 = g.Data3;
  std::memcpy(out.d4, g.Data4, sizeof out.d4);
  return out;
}

}  // namespace opos::platform::win32
