// The COM face of a Service Object DLL under Windows: the class factory by
// DllGetClassObject, DllCanUnloadNow counting factories, objects and locks,
// creation by ProgID through CoCreateInstance, and IDispatch member lookup in
// dispatch order. Prints one line per check; exit status 1 when one failed.
// Built by scripts/windows-leg.sh: com_check.exe DLL PROGID
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: com_check DLL PROGID\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const std::wstring progId(argv[2], argv[2] + std::strlen(argv[2]));
  CLSID clsid;
  Check(SUCCEEDED(CLSIDFromProgID(progId.c_str(), &clsid)), "the ProgID names a class");

  HMODULE dll = LoadLibraryA(argv[1]);
  Check(dll != nullptr, "the DLL loads");
  if (!dll) return 1;
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  auto getClassObject =
      reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  auto canUnload =
      reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  Check(getClassObject && canUnload && GetProcAddress(dll, "DllRegisterServer"),
        "the three exports are there");
  Check(GetProcAddress(dll, "OposDllGetClassObject") == nullptr, "nothing else is exported");
  if (!getClassObject || !canUnload) return 1;

  Check(canUnload() == S_OK, "DllCanUnloadNow: S_OK with nothing alive");
  IClassFactory* factory = nullptr;
  Check(SUCCEEDED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) && factory,
        "DllGetClassObject gives the class factory");
  CLSID other = clsid;
  other.Data1 ^= 0xFFFF;
  void* none = nullptr;
  Check(getClassObject(other, IID_IClassFactory, &none) == CLASS_E_CLASSNOTAVAILABLE && !none,
        "DllGetClassObject refuses another class");
  if (!factory) return 1;
  // The factories live as long as the library: holding one keeps nothing alive.
  Check(canUnload() == S_OK, "DllCanUnloadNow: S_OK while only a factory is held");
  factory->LockServer(TRUE);
  IDispatch* object = nullptr;
  Check(
      SUCCEEDED(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object))) && object,
      "CreateInstance gives an IDispatch");
  factory->Release();
  Check(canUnload() == S_FALSE, "DllCanUnloadNow: S_FALSE while locked and an object lives");
  factory = nullptr;
  getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (factory) {
    factory->LockServer(FALSE);
    factory->Release();
  }
  if (object) object->Release();
  Check(canUnload() == S_OK, "DllCanUnloadNow: S_OK after the last object and lock are gone");

  IDispatch* created = nullptr;
  Check(SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&created))) &&
            created,
        "CoCreateInstance by the ProgID's class gives an IDispatch");
  if (created) {
    struct {
      const wchar_t* name;
      DISPID id;
    } members[] = {{L"COFreezeEvents", 1}, {L"openservice", 6}, {L"ClaimDevice", 8}, {L"CheckHealth", 7}};
    bool inOrder = true;
    for (auto& m : members) {
      DISPID id = 0;
      LPOLESTR name = const_cast<LPOLESTR>(m.name);
      inOrder = inOrder && SUCCEEDED(created->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)) && id == m.id;
    }
    Check(inOrder, "GetIDsOfNames: members in dispatch order, any letter case");
    DISPID id = 0;
    LPOLESTR bogus = const_cast<LPOLESTR>(L"NoSuchMember");
    Check(created->GetIDsOfNames(IID_NULL, &bogus, 1, 0, &id) == DISP_E_UNKNOWNNAME,
          "an unknown name is refused");
    // GetPropertyNumber(PIDX_State) on a closed object: OPOS_S_CLOSED (1).
    VARIANTARG arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = 9;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    Check(SUCCEEDED(created->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr)) &&
              V_VT(&result) == VT_I4 && V_I4(&result) == 1,
          "Invoke GetPropertyNumber(State) answers closed");
    created->Release();
  }
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
