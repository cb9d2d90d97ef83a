// Between the layer's dispatch objects and real COM: a layer object shown to
// COM as an IDispatch, and a COM IDispatch shown to the layer as one of its
// own. Arguments cross as VARIANTs (VT_I4, VT_BSTR, by reference VT_I4 and
// VT_BSTR, VT_DISPATCH), strings as BSTR converted through the ANSI code page.
#pragma once

#include "platform/dispatch.h"
#include "platform/win32/win_api.h"

namespace opos::platform::win32 {

// A new COM object (one reference, the caller's) over inner, which it holds a
// reference to until its last Release.
::IDispatch* ExposeToCom(com::IDispatch* inner);
// A new layer object (one reference, the caller's) over outer, which it holds
// a reference to.
com::IDispatch* WrapFromCom(::IDispatch* outer);

// The layer's GUID as COM's and back (the same layout).
GUID ToComGuid(const com::Guid& g);
com::Guid FromComGuid(const GUID& g);

}  // namespace opos::platform::win32
