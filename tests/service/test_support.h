// Shared fixtures for the service tests: a registry store in a temporary folder
// (OPOS_REGISTRY points at it) and helpers that write device keys.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry_store.h"

namespace opos::test {

inline const char* kPrinterClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
inline const char* kDrawerClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";

class TempRegistry {
 public:
  TempRegistry() {
    char tmpl[] = "/tmp/opos-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/registry.db";
    setenv("OPOS_REGISTRY", path_.c_str(), 1);
    std::string err;
    store_ = reg::Store::Open(path_, &err);
    EXPECT_TRUE(store_) << err;
  }
  ~TempRegistry() {
    store_.reset();
    unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  reg::Store& Store() { return *store_; }
  const std::string& Dir() const { return dir_; }
  const std::string& Path() const { return path_; }

  void SetDword(const std::string& key, const std::string& name, uint32_t v) {
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    reg::Value val{name, reg::REG_DWORD, reg::DwordData(v)};
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, val), reg::kOk);
  }
  void SetSz(const std::string& key, const std::string& name, const std::string& text) {
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    reg::Value val{name, reg::REG_SZ, reg::SzData(text)};
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, val), reg::kOk);
  }
  void Delete(const std::string& key, const std::string& name) {
    ASSERT_EQ(store_->DeleteValue(reg::Root::LocalMachine, key, name), reg::kOk);
  }

  // A complete serial device key; returns its path.
  std::string AddSerialDevice(bool drawer, const std::string& name, const std::string& port,
                              const std::string& model) {
    const std::string key = std::string(drawer ? kDrawerClass : kPrinterClass) + "\\" + name;
    SetSz(key, "", drawer ? "KELVORA.CashDrawer.SO" : "KELVORA.RecPrinter.SO");
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0}}) {
      SetDword(key, n, v);
    }
    SetSz(key, "Port", port);
    SetSz(key, "DeviceName", model);
    if (drawer) {
      SetDword(key, "ConnectorPinNo", 2);
      SetDword(key, "OpenLevel", 1);
    }
    return key;
  }
  // A parallel ("Port") or USB ("SymbolicLink") device key.
  std::string AddOtherDevice(bool usb, bool drawer, const std::string& name, const std::string& port,
                             const std::string& model) {
    const std::string key = std::string(drawer ? kDrawerClass : kPrinterClass) + "\\" + name;
    const char* suffix = usb ? "SOU" : "SOP";
    SetSz(key, "", std::string(drawer ? "KELVORA.CashDrawer." : "KELVORA.RecPrinter.") + suffix);
    SetSz(key, usb ? "SymbolicLink" : "Port", port);
    SetSz(key, "DeviceName", model);
    return key;
  }

 private:
  std::string dir_, path_;
  std::unique_ptr<reg::Store> store_;
};

}  // namespace opos::test
