// The three exports of a Service Object library. Compiled once per library with
// OPOS_LIBRARY_SERIAL, OPOS_LIBRARY_PARALLEL or OPOS_LIBRARY_USB defined.
#include "drawer/cash_drawer.h"
#include "platform/com_registry.h"
#include "platform/registry_store.h"
#include "printer/pos_printer.h"
#include "service/class_factory.h"
#include "service/library_profile.h"
#include "service/object_count.h"

#if defined(OPOS_LIBRARY_SERIAL)
#include "transport/serial/serial_port.h"
#elif defined(OPOS_LIBRARY_PARALLEL)
#include "transport/parallel/parallel_port.h"
#elif defined(OPOS_LIBRARY_USB)
#include "transport/usb/usb_port.h"
#else
#error "define OPOS_LIBRARY_SERIAL, OPOS_LIBRARY_PARALLEL or OPOS_LIBRARY_USB"
#endif

#define OPOS_EXPORT extern "C" __attribute__((visibility("default")))

namespace opos {

namespace {

#if defined(OPOS_LIBRARY_SERIAL)
const LibraryProfile kProfile = {
    "serialso",
    TransportKind::Serial,
    "KELVORA.RecPrinter.SO",
    "KELVORA.CashDrawer.SO",
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x01, 0x01}},
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x01, 0x02}},
    1004001,
    1003001,
    1000,
    1,
    0,
    &CreateSerialPort};
#elif defined(OPOS_LIBRARY_PARALLEL)
const LibraryProfile kProfile = {
    "parallelso",
    TransportKind::Parallel,
    "KELVORA.RecPrinter.SOP",
    "KELVORA.CashDrawer.SOP",
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x02, 0x01}},
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x02, 0x02}},
    1003000,
    1003000,
    3000,
    3,
    2,
    &CreateParallelPort};
#else
const LibraryProfile kProfile = {
    "usbso",
    TransportKind::Usb,
    "KELVORA.RecPrinter.SOU",
    "KELVORA.CashDrawer.SOU",
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x03, 0x01}},
    {0x6F1C2A01, 0x3B5E, 0x4C2D, {0x9A, 0x10, 0x5E, 0x21, 0x7C, 0x44, 0x03, 0x02}},
    1003000,
    1003000,
    3000,
    3,
    2,
    &CreateUsbPort};
#endif

CClassFactory<CPOSPrinter> gPrinterFactory;
CClassFactory<CCashDrawer> gDrawerFactory;

}  // namespace

const LibraryProfile& ThisLibrary() {
  return kProfile;
}

}  // namespace opos

using namespace opos;

OPOS_EXPORT com::HRESULT DllGetClassObject(const com::Guid& clsid, com::IClassFactory** out) {
  if (!out) return com::E_POINTER;
  *out = nullptr;
  if (clsid == kProfile.printerClsid)
    *out = &gPrinterFactory;
  else if (clsid == kProfile.drawerClsid)
    *out = &gDrawerFactory;
  else
    return com::CLASS_E_CLASSNOTAVAILABLE;
  return com::S_OK;
}

OPOS_EXPORT com::HRESULT DllCanUnloadNow() {
  return ObjectCount::CanUnload() ? com::S_OK : com::S_FALSE;
}

OPOS_EXPORT com::HRESULT DllRegisterServer() {
  // A registration that could not be written is reported as the failure it is.
  std::string error;
  auto store = reg::Store::Open(reg::Store::DefaultPath(), &error);
  if (!store) return com::E_FAIL;
  const std::string path = com::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  com::HRESULT hr = com::RegisterClass(*store, kProfile.printerProgId, kProfile.printerClsid,
                                       "OPOS POSPrinter Service Object", path);
  if (com::Succeeded(hr)) {
    hr = com::RegisterClass(*store, kProfile.drawerProgId, kProfile.drawerClsid,
                            "OPOS Cash Drawer Service Object", path);
  }
  return hr;
}
