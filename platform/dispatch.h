// Dispatch objects: the stand-in for COM's IDispatch and class factories. Members
// are found by name (without regard to case) and invoked with a list of variant
// arguments, first argument first. Nothing throws across this interface; failures
// are HRESULT values.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace opos::com {

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9u);
inline bool Succeeded(HRESULT hr) {
  return hr >= 0;
}

struct Guid {
  uint32_t d1 = 0;
  uint16_t d2 = 0, d3 = 0;
  uint8_t d4[8] = {};
  bool operator==(const Guid&) const = default;
  std::string ToString() const;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  static bool Parse(const std::string& text, Guid* out);
};

class IDispatch;

enum class VT { Empty, Long, LongRef, String, StringRef, Dispatch };

// One argument or result. By-reference forms point at the caller's cell, which
// the callee may change.
struct Variant {
  VT vt = VT::Empty;
  int32_t lVal = 0;
  int32_t* plVal = nullptr;
  std::string strVal;
  std::string* pstrVal = nullptr;
  IDispatch* pdispVal = nullptr;  // not reference counted by the Variant

  static Variant Long(int32_t v) {
    Variant x;
    x.vt = VT::Long;
    x.lVal = v;
    return x;
  }
  static Variant LongRef(int32_t* p) {
    Variant x;
    x.vt = VT::LongRef;
    x.plVal = p;
    return x;
  }
  static Variant String(std::string s) {
    Variant x;
    x.vt = VT::String;
    x.strVal = std::move(s);
    return x;
  }
  static Variant StringRef(std::string* p) {
    Variant x;
    x.vt = VT::StringRef;
    x.pstrVal = p;
    return x;
  }
  static Variant Dispatch(IDispatch* p) {
    Variant x;
    x.vt = VT::Dispatch;
    x.pdispVal = p;
    return x;
  }

  // Value as a LONG (by value or by reference); false when not numeric.
  bool AsLong(int32_t* out) const;
  // Value as a string (by value or by reference); false when not a string.
  bool AsString(std::string* out) const;
};

class IDispatch {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  // Name → DISPID, without regard to case. DISP_E_UNKNOWNNAME when absent.
  virtual HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) = 0;
  // Calls member dispid. DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT or
  // DISP_E_TYPEMISMATCH when the call does not fit the member.
  virtual HRESULT Invoke(int32_t dispid, std::vector<Variant>& args, Variant* result) = 0;

 protected:
  ~IDispatch() = default;
};

class IClassFactory {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  // A new object with one reference held by the caller.
  virtual HRESULT CreateInstance(IDispatch** out) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Signatures of the three exports of a Service Object library (extern "C").
using DllGetClassObjectFn = HRESULT (*)(const Guid& clsid, IClassFactory** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();

// A dispatch member table: the member list in dispatch order, each with its
// argument kinds and a handler. Objects that implement IDispatch keep one and
// forward GetIDsOfNames / Invoke to it.
struct Member {
  const char* name;
  std::vector<VT> params;  // Long, LongRef, String, StringRef, Dispatch
  bool hasResult;          // LONG (or string, see resultIsString) result
  bool resultIsString = false;
};

class MemberTable {
 public:
  explicit MemberTable(std::vector<Member> members) : members_(std::move(members)) {}
  // DISPIDs are 1-based positions in the member list.
  HRESULT Lookup(const std::string& name, int32_t* dispid) const;
  // Checks count and kinds of args against the member; S_OK when they fit.
  // A Long parameter accepts a Long or LongRef argument; a String parameter a
  // String or StringRef; a by-reference parameter only its by-reference kind.
  HRESULT Check(int32_t dispid, const std::vector<Variant>& args) const;
  const Member* Find(int32_t dispid) const;
  const std::vector<Member>& Members() const { return members_; }

 private:
  std::vector<Member> members_;
};

// Reference counting base for objects handed out through these interfaces.
class RefCounted {
 public:
  uint32_t AddRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Returns the new count; the caller deletes the object at 0.
  uint32_t ReleaseImpl() { return refs_.fetch_sub(1, std::memory_order_acq_rel) - 1; }

 private:
  std::atomic<uint32_t> refs_{1};
};

}  // namespace opos::com
