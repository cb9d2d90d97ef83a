#include "platform/com_registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace opos::com {

namespace {

using reg::Root;

long SetDefault(reg::Store& s, const std::string& path, const std::string& text) {
  long rc = s.CreateKey(Root::ClassesRoot, path);
  if (rc != reg::kOk) return rc;
  reg::Value v;
  v.name = "";
  v.type = reg::REG_SZ;
  v.data = reg::SzData(text);
  return s.SetValue(Root::ClassesRoot, path, v);
}

bool GetDefault(reg::Store& s, const std::string& path, std::string* text) {
  reg::Value v;
  if (s.QueryValue(Root::ClassesRoot, path, "", &v) != reg::kOk || v.type != reg::REG_SZ) return false;
  *text = reg::SzText(v.data);
  return true;
}

// Libraries stay loaded for the life of the process, as COM keeps them until
// CoFreeUnusedLibraries; unloading under live objects would be fatal.
std::mutex gLibLock;
std::map<std::string, void*> gLibs;

}  // namespace

HRESULT RegisterClass(reg::Store& store, const std::string& progId, const Guid& clsid,
                      const std::string& description, const std::string& libraryPath) {
  const std::string c = clsid.ToString();
  if (SetDefault(store, progId, description) != reg::kOk ||
      SetDefault(store, progId + "\\CLSID", c) != reg::kOk ||
      SetDefault(store, "CLSID\\" + c, description) != reg::kOk ||
      SetDefault(store, "CLSID\\" + c + "\\ProgID", progId) != reg::kOk ||
      SetDefault(store, "CLSID\\" + c + "\\InprocServer32", libraryPath) != reg::kOk) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CreateObjectByProgId(reg::Store& store, const std::string& progId, IDispatch** out,
                             std::string* error) {
  *out = nullptr;
  std::string clsidText, path;
  Guid clsid;
  if (progId.empty() || progId.find('\\') != std::string::npos ||
      !GetDefault(store, progId + "\\CLSID", &clsidText) || !Guid::Parse(clsidText, &clsid)) {
    if (error) *error = "class not registered: " + progId;
    return REGDB_E_CLASSNOTREG;
  }
  if (!GetDefault(store, "CLSID\\" + clsidText + "\\InprocServer32", &path) || path.empty()) {
    if (error) *error = "no library registered for " + progId + " " + clsidText;
    return REGDB_E_CLASSNOTREG;
  }
  void* lib = nullptr;
  {
    std::lock_guard<std::mutex> g(gLibLock);
    auto it = gLibs.find(path);
    if (it != gLibs.end()) {
      lib = it->second;
    } else {
      lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!lib) {
        const char* why = dlerror();
        if (error) *error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return CO_E_DLLNOTFOUND;
      }
      gLibs[path] = lib;
    }
  }
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(lib, "DllGetClassObject"));
  if (!getClassObject) {
    if (error) *error = path + " does not export DllGetClassObject";
    return CO_E_ERRORINDLL;
  }
  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(clsid, &factory);
  if (!Succeeded(hr) || !factory) {
    if (error) *error = path + " does not offer class " + clsidText;
    return Succeeded(hr) ? E_FAIL : hr;
  }
  hr = factory->CreateInstance(out);
  factory->Release();
  if (!Succeeded(hr) && error) *error = "the class factory of " + progId + " failed";
  return hr;
}

std::string ModulePathOf(const void* addr) {
  Dl_info info{};
  if (dladdr(addr, &info) && info.dli_fname) {
    char buf[4096];
    if (realpath(info.dli_fname, buf)) return buf;
    return info.dli_fname;
  }
  return {};
}

std::string RegisteredLibraryPath(const std::string& lib) {
  char buf[PATH_MAX];
  if (::realpath(lib.c_str(), buf)) return buf;
  std::string abs = lib;
  if (abs.empty() || abs[0] != '/') {
    if (!::getcwd(buf, sizeof buf)) return lib;
    abs = std::string(buf) + "/" + lib;
  }
  return std::filesystem::path(abs).lexically_normal().string();
}

HRESULT CallRegisterServer(const std::string& library, std::string* why) {
  why->clear();
  // A bare file name would send dlopen searching the library path instead of
  // taking the file the user named.
  std::string lib = library;
  if (lib.find('/') == std::string::npos) lib = "./" + lib;
  void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* err = dlerror();
    *why = "cannot load " + library + ": " + (err ? err : "unknown error");
    return CO_E_DLLNOTFOUND;
  }
  auto registerServer = reinterpret_cast<DllRegisterServerFn>(dlsym(handle, "DllRegisterServer"));
  if (!registerServer) {
    *why = library + " does not export DllRegisterServer";
    return CO_E_ERRORINDLL;
  }
  return registerServer();
}

}  // namespace opos::com
