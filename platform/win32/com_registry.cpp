// Class registration and creation through COM itself: the registry entries
// are the ones regsvr32 expects, and objects come from CoCreateInstance.
#include "platform/com_registry.h"

#include "platform/win32/com_bridge.h"
#include "platform/win32/win_api.h"

namespace opos::com {

namespace {

using reg::Root;

long SetText(reg::Store& s, const std::string& path, const std::string& name, const std::string& text) {
  long rc = s.CreateKey(Root::ClassesRoot, path);
  if (rc != reg::kOk) return rc;
  reg::Value v;
  v.name = name;
  v.type = reg::REG_SZ;
  v.data = reg::SzData(text);
  return s.SetValue(Root::ClassesRoot, path, v);
}

// COM for the calling thread, once: a single-threaded apartment, as the
// Service Objects run their calls and events on the thread that opened them.
bool EnsureComOnThisThread(std::string* error) {
  thread_local HRESULT state = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // RPC_E_CHANGED_MODE: the host chose another apartment; COM works there too.
  if (SUCCEEDED(state) || state == RPC_E_CHANGED_MODE) return true;
  if (error) *error = "COM cannot start: " + platform::win32::Win32ErrorText(static_cast<DWORD>(state));
  return false;
}

}  // namespace

HRESULT RegisterClass(reg::Store& store, const std::string& progId, const Guid& clsid,
                      const std::string& description, const std::string& libraryPath) {
  const std::string c = clsid.ToString();
  if (SetText(store, progId, "", description) != reg::kOk ||
      SetText(store, progId + "\\CLSID", "", c) != reg::kOk ||
      SetText(store, "CLSID\\" + c, "", description) != reg::kOk ||
      SetText(store, "CLSID\\" + c + "\\ProgID", "", progId) != reg::kOk ||
      SetText(store, "CLSID\\" + c + "\\InprocServer32", "", libraryPath) != reg::kOk ||
      SetText(store, "CLSID\\" + c + "\\InprocServer32", "ThreadingModel", "Apartment") != reg::kOk) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CreateObjectByProgId(reg::Store& store, const std::string& progId, IDispatch** out,
                             std::string* error) {
  (void)store;  // COM reads the machine's registry itself
  *out = nullptr;
  if (!EnsureComOnThisThread(error)) return E_FAIL;
  CLSID clsid;
  if (progId.empty() || progId.find('\\') != std::string::npos ||
      FAILED(CLSIDFromProgID(platform::win32::Widen(progId).c_str(), &clsid))) {
    if (error) *error = "class not registered: " + progId;
    return REGDB_E_CLASSNOTREG;
  }
  ::IDispatch* object = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&object));
  if (FAILED(hr) || object == nullptr) {
    if (error) {
      *error = "cannot create " + progId + " " + platform::win32::FromComGuid(clsid).ToString() + ": " +
               platform::win32::Win32ErrorText(static_cast<DWORD>(hr));
    }
    return FAILED(hr) ? hr : E_FAIL;
  }
  *out = platform::win32::WrapFromCom(object);
  object->Release();
  return S_OK;
}

std::string ModulePathOf(const void* addr) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(addr), &module)) {
    return {};
  }
  char buf[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(module, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

std::string RegisteredLibraryPath(const std::string& library) {
  char buf[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(library.c_str(), sizeof buf, buf, nullptr);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : library;
}

HRESULT CallRegisterServer(const std::string& library, std::string* why) {
  why->clear();
  const std::string path = RegisteredLibraryPath(library);
  // The library's own folder is searched for the libraries it needs.
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    *why = "cannot load " + library + ": " + platform::win32::Win32ErrorText(GetLastError());
    return CO_E_DLLNOTFOUND;
  }
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  if (!registerServer) {
    *why = library + " does not export DllRegisterServer";
    return CO_E_ERRORINDLL;
  }
  return registerServer();
}

}  // namespace opos::com
