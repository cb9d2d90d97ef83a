// Class registration and creation by ProgID: the stand-in for COM's class
// registration under HKEY_CLASSES_ROOT and CoCreateInstance for in-process
// servers. Registration entries:
//   HKCR\<ProgID>                      @ = description
//   HKCR\<ProgID>\CLSID                @ = "{CLSID}"
//   HKCR\CLSID\{CLSID}                 @ = description
//   HKCR\CLSID\{CLSID}\ProgID          @ = ProgID
//   HKCR\CLSID\{CLSID}\InprocServer32  @ = absolute library path
#pragma once

#include <string>

#include "platform/dispatch.h"
#include "platform/registry_store.h"

namespace opos::com {

HRESULT RegisterClass(reg::Store& store, const std::string& progId, const Guid& clsid,
                      const std::string& description, const std::string& libraryPath);

// Creates an object of the class registered under progId. On failure returns
// REGDB_E_CLASSNOTREG (no such ProgID / CLSID), CO_E_DLLNOTFOUND (library does
// not load), CO_E_ERRORINDLL (library lacks the exports) or the factory's code,
// with a message in *error.
HRESULT CreateObjectByProgId(reg::Store& store, const std::string& progId, IDispatch** out,
                             std::string* error);

// Path of the shared object that contains addr (for DllRegisterServer).
std::string ModulePathOf(const void* addr);

// The library's path as DllRegisterServer records it (the real, absolute
// path), also for a file that is gone, so a stale registration can be removed.
std::string RegisteredLibraryPath(const std::string& library);

// Loads the library the user named (a bare file name is taken from the
// current folder, not searched for) and calls its DllRegisterServer. When the
// library does not load or lacks the export, *why says so and the result is
// CO_E_DLLNOTFOUND or CO_E_ERRORINDLL; else *why stays empty and the result
// is DllRegisterServer's.
HRESULT CallRegisterServer(const std::string& library, std::string* why);

}  // namespace opos::com
