// The Windows headers for this folder's sources. The layer's own headers name
// constants as Windows does (S_OK, REG_SZ, ...) inside their namespaces, and
// windows.h makes those names macros: undone here, after the Windows headers,
// so both can be used in one file (the values are the same).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#undef S_OK
#undef S_FALSE
#undef E_FAIL
#undef E_POINTER
#undef E_OUTOFMEMORY
#undef DISP_E_MEMBERNOTFOUND
#undef DISP_E_TYPEMISMATCH
#undef DISP_E_UNKNOWNNAME
#undef DISP_E_BADPARAMCOUNT
#undef CLASS_E_CLASSNOTAVAILABLE
#undef REGDB_E_CLASSNOTREG
#undef CO_E_DLLNOTFOUND
#undef CO_E_ERRORINDLL
#undef REG_NONE
#undef REG_SZ
#undef REG_EXPAND_SZ
#undef REG_BINARY
#undef REG_DWORD
#undef REG_MULTI_SZ
#undef RegisterClass
#undef interface

#include <string>

namespace opos::platform::win32 {

// Text of a Win32 error code, for failure causes.
std::string Win32ErrorText(DWORD code);
// The errno value closest to a Win32 error code: the layer's callers report
// device failures through errno, as on every other system.
int ErrnoFromWin32(DWORD code);
// UTF-16 and the 8-bit ANSI code page (the bytes the services work in).
std::wstring Widen(const std::string& text);
std::string Narrow(const wchar_t* text, size_t length);

}  // namespace opos::platform::win32
