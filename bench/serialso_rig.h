// What the benchmarks that drive libserialso.so through the Control Objects
// share: registering the library's classes and writing a serial device's key.
// The including target defines OPOS_BUILD_DIR.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>
#include <utility>

#include "platform/com_registry.h"
#include "platform/registry_store.h"

namespace opos::bench {

// Registers the build's libserialso.so in the store OPOS_REGISTRY names.
// Empty on success, else what failed.
inline std::string RegisterSerialSo() {
  void* lib = ::dlopen(OPOS_BUILD_DIR "/service/libserialso.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return ::dlerror();
  auto registerServer = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(lib, "DllRegisterServer"));
  const bool registered = registerServer != nullptr && registerServer() == com::S_OK;
  ::dlclose(lib);
  return registered ? "" : "DllRegisterServer failed";
}

// Printer1 (a QMT500) or Drawer1 on the serial port `port`.
inline bool AddSerialDevice(reg::Store& store, bool drawer, const std::string& port) {
  const std::string key = std::string("SOFTWARE\\OLEforRetail\\ServiceOPOS\\") +
                          (drawer ? "CashDrawer\\Drawer1" : "POSPrinter\\Printer1");
  bool ok = store.CreateKey(reg::Root::LocalMachine, key) == reg::kOk;
  auto sz = [&](const char* name, const std::string& v) {
    ok = ok && store.SetValue(reg::Root::LocalMachine, key, {name, reg::REG_SZ, reg::SzData(v)}) == reg::kOk;
  };
  auto dword = [&](const char* name, uint32_t v) {
    ok = ok &&
         store.SetValue(reg::Root::LocalMachine, key, {name, reg::REG_DWORD, reg::DwordData(v)}) == reg::kOk;
  };
  sz("", drawer ? "KELVORA.CashDrawer.SO" : "KELVORA.RecPrinter.SO");
  sz("Port", port);
  for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                      {"BitLength", 8},
                      {"HandShake", 0},
                      {"Parity", 0},
                      {"Stop", 1},
                      {"XonXoff", 0}}) {
    dword(n, v);
  }
  if (drawer) {
    sz("DeviceName", "StandardCash");
    dword("ConnectorPinNo", 2);
    dword("OpenLevel", 1);
  } else {
    sz("DeviceName", "QMT500");
  }
  return ok;
}

}  // namespace opos::bench
