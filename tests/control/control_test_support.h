// Shared by the Control Object and opos tool tests: a registry store in a fresh
// folder ($OPOS_REGISTRY points at it), the serial Service Object library
// registered in it, device keys, the stand-in library, and a virtual printer
// on a pseudo-terminal as the device.
#pragma once

#include <dlfcn.h>
#include <poll.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "control/members.h"
#include "platform/com_registry.h"
#include "platform/dispatch.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::control::testing {

inline const char* kPrinterProgId = "KELVORA.RecPrinter.SO";
inline const char* kDrawerProgId = "KELVORA.CashDrawer.SO";
inline const char* kFakeProgId = "TEST.Fake.SO";

inline std::string SerialLibraryPath() {
  return std::string(OPOS_BUILD_DIR) + "/service/libserialso.so";
}

class ControlEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opos-control-XXXXXX";
    const char* made = mkdtemp(tmpl);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    path_ = dir_ + "/registry.db";
    setenv("OPOS_REGISTRY", path_.c_str(), 1);
    std::string error;
    store_ = reg::Store::Open(path_, &error);
    ASSERT_NE(store_, nullptr) << error;
  }

  void TearDown() override {
    printer_.reset();
    store_.reset();
    unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Helpers are public so that table-driven cases can use them.
 public:
  // The real library, registered as `opos regsvr` would do it.
  void RegisterSerialLibrary() {
    void* lib = dlopen(SerialLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<com::DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), com::S_OK);
  }

  void RegisterFake(const std::string& progId = kFakeProgId, const std::string& library = OPOS_FAKE_SO) {
    // One CLSID per ProgID, so that several stand-ins can be registered at once.
    com::Guid clsid{
        static_cast<uint32_t>(std::hash<std::string>()(progId)), 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_EQ(com::RegisterClass(*store_, progId, clsid, "test object", library), com::S_OK);
  }

  template <typename T>
  T FakeExport(const char* name) {
    void* lib = dlopen(OPOS_FAKE_SO, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!lib) return nullptr;
    return reinterpret_cast<T>(dlsym(lib, name));
  }

  void SetSz(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, {name, reg::REG_SZ, reg::SzData(text)}),
              reg::kOk);
  }
  void SetDword(const std::string& key, const std::string& name, uint32_t v) {
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, {name, reg::REG_DWORD, reg::DwordData(v)}),
              reg::kOk);
  }

  static std::string DeviceKey(DeviceClass c, const std::string& name) {
    return std::string(ClassKeyPath(c)) + "\\" + name;
  }

  // A complete serial device key on port; returns its path.
  std::string AddSerialDevice(DeviceClass c, const std::string& name, const std::string& port) {
    const bool drawer = c == DeviceClass::CashDrawer;
    const std::string key = DeviceKey(c, name);
    SetSz(key, "", drawer ? kDrawerProgId : kPrinterProgId);
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0}}) {
      SetDword(key, n, v);
    }
    SetSz(key, "Port", port);
    SetSz(key, "DeviceName", drawer ? "StandardCash" : "QMT500");
    if (drawer) {
      SetDword(key, "ConnectorPinNo", 2);
      SetDword(key, "OpenLevel", 1);
    }
    return key;
  }

  void AddLogicalName(DeviceClass c, const std::string& logical, const std::string& device) {
    SetSz(ClassKeyPath(c), logical, device);
  }

  // Starts the virtual printer; its slave is the device's port.
  std::string StartPrinter() {
    printer_ = std::make_unique<vprinter::VirtualPrinter>();
    std::string error;
    EXPECT_TRUE(printer_->Start(&error)) << error;
    return printer_->SlavePath();
  }

  // True when the virtual printer receives text within timeoutMs.
  bool PrinterReceives(const std::string& text, int timeoutMs = 5000) {
    return printer_->WaitUntil(
        [&](const vprinter::PrinterModel& m) {
          const auto& c = m.Capture();
          return std::string(c.begin(), c.end()).find(text) != std::string::npos;
        },
        std::chrono::milliseconds(timeoutMs));
  }

  // A printer device key "Printer" (logical name "Receipt") and a drawer key
  // "Drawer" on the virtual printer's port, with the serial library registered.
  void SetUpRealDevices() {
    RegisterSerialLibrary();
    const std::string port = StartPrinter();
    AddSerialDevice(DeviceClass::POSPrinter, "Printer", port);
    AddLogicalName(DeviceClass::POSPrinter, "Receipt", "Printer");
    AddSerialDevice(DeviceClass::CashDrawer, "Drawer", port);
  }

  std::string dir_;
  std::string path_;
  std::unique_ptr<reg::Store> store_;
  std::unique_ptr<vprinter::VirtualPrinter> printer_;
};

// True when fd becomes readable within timeoutMs.
inline bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

}  // namespace opos::control::testing
