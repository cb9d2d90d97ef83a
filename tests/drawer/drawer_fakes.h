// Stand-ins around a CCashDrawer under test: a port object whose sensor,
// readiness and writes the test controls, a printer service on the same port,
// a Control Object that records StatusUpdate events, and a temporary registry.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drawer/cash_drawer.h"
#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/registry_store.h"
#include "service/config_reader.h"

namespace opos::test {

struct Written {
  std::string bytes;
  uint32_t tick;
};

class FakePort : public CPortObject {
 public:
  int Open(const DeviceConfig&) override {
    opened = 1;
    return 1;
  }
  int32_t StartMonitor(uint32_t) override { return 0; }
  int Write(const uint8_t* bytes, size_t length) override {
    std::lock_guard<std::mutex> g(lock_);
    writes_.push_back({std::string(reinterpret_cast<const char*>(bytes), length), platform::TickCount()});
    return writeResult.load();
  }
  int Read(uint8_t*, size_t) override { return 0; }
  int32_t CheckReady() override {
    const int call = checkReadyCalls.fetch_add(1) + 1;
    if (call == closeDrawerAtCheck.load()) drawerSensorLow = 0;
    return checkReadyAnswer.load();
  }
  void Close() override {
    opened = 0;
    closeCalls.fetch_add(1);
  }

  std::vector<Written> Writes() const {
    std::lock_guard<std::mutex> g(lock_);
    return writes_;
  }

  std::atomic<int> writeResult{1};
  std::atomic<int32_t> checkReadyAnswer{0};
  std::atomic<int> checkReadyCalls{0};
  // The drawer closes (pin 3 high) at this CheckReady call; 0: never.
  std::atomic<int> closeDrawerAtCheck{0};
  std::atomic<int> closeCalls{0};

 private:
  mutable std::mutex lock_;
  std::vector<Written> writes_;
};

// The printer service on the drawer's port, as the drawer sees it.
class FakePrinter : public IPrinterLink {
 public:
  virtual ~FakePrinter() = default;
  void SetProcessIdSeen() override {}
  void MarkImagesLost() override {}
  bool OutputBusy() const override {
    if (!busy.load()) return false;
    const uint32_t until = busyUntil.load();
    return until == 0 || static_cast<int32_t>(until - platform::TickCount()) > 0;
  }
  uint32_t LastOutputTick() const override { return lastOutput.load(); }
  const CPortObject* PrinterPort() const override { return &port; }

  // Busy while set and TickCount() is before busyUntil (0: without end).
  std::atomic<bool> busy{false};
  std::atomic<uint32_t> busyUntil{0};
  std::atomic<uint32_t> lastOutput{0};
  FakePort port;
};

class FakeControl : public com::IDispatch {
 public:
  virtual ~FakeControl() = default;
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  com::HRESULT GetIDsOfNames(const std::string& name, int32_t* id) override {
    if (name == "SODirectIO")
      *id = 1;
    else if (name == "SOStatusUpdate")
      *id = 2;
    else
      return com::DISP_E_UNKNOWNNAME;
    return com::S_OK;
  }
  com::HRESULT Invoke(int32_t id, std::vector<com::Variant>& args, com::Variant*) override {
    if (id == 2 && !args.empty()) status.push_back(args[0].lVal);  // the opening thread only
    return com::S_OK;
  }
  std::vector<int32_t> status;
};

// The port object the last constructed drawer made (the test thread builds it).
inline FakePort* gLastPort = nullptr;
inline std::unique_ptr<CPortObject> MakeFakePort() {
  auto port = std::make_unique<FakePort>();
  gLastPort = port.get();
  return port;
}

inline const LibraryProfile kFakeSerial = {"serialso",
                                           TransportKind::Serial,
                                           "KELVORA.RecPrinter.SO",
                                           "KELVORA.CashDrawer.SO",
                                           {},
                                           {},
                                           1004001,
                                           1003001,
                                           1000,
                                           1,
                                           0,
                                           &MakeFakePort};
inline const LibraryProfile kFakeParallel = {"parallelso",
                                             TransportKind::Parallel,
                                             "KELVORA.RecPrinter.SOP",
                                             "KELVORA.CashDrawer.SOP",
                                             {},
                                             {},
                                             1003000,
                                             1003000,
                                             3000,
                                             3,
                                             2,
                                             &MakeFakePort};

struct DrawerKey {
  int32_t pin = 2;
  int32_t openLevel = 1;
  bool writeOpenLevel = true;
};

class DrawerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opos-drawer-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    ::setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
  }
  void TearDown() override {
    drawer_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void WriteKey(const std::string& name, const DrawerKey& key, TransportKind transport) {
    std::string err;
    auto store = reg::Store::Open(reg::Store::DefaultPath(), &err);
    ASSERT_NE(store, nullptr) << err;
    const std::string path = std::string(kCashDrawerClassKey) + "\\" + name;
    ASSERT_EQ(store->CreateKey(reg::Root::LocalMachine, path), reg::kOk);
    auto dword = [&](const char* n, int32_t v) {
      store->SetValue(reg::Root::LocalMachine, path,
                      {n, reg::REG_DWORD, reg::DwordData(static_cast<uint32_t>(v))});
    };
    auto sz = [&](const char* n, const std::string& v) {
      store->SetValue(reg::Root::LocalMachine, path, {n, reg::REG_SZ, reg::SzData(v)});
    };
    if (transport == TransportKind::Serial) {
      dword("Baudrate", 6);
      dword("BitLength", 8);
      dword("HandShake", 0);
      dword("Parity", 0);
      dword("Stop", 1);
      dword("XonXoff", 0);
    }
    sz("Port", "COM1");
    sz("DeviceName", "StandardCash");
    dword("ConnectorPinNo", key.pin);
    if (key.writeOpenLevel) dword("OpenLevel", key.openLevel);
  }

  // An opened (not claimed) drawer of the given library on a fake port.
  void Open(const DrawerKey& key = {}, const LibraryProfile& library = kFakeSerial) {
    WriteKey("TestDrawer", key, library.transport);
    drawer_ = std::make_unique<CCashDrawer>(library);
    port_ = gLastPort;
    ASSERT_EQ(drawer_->OpenService("CashDrawer", "TestDrawer", &control_), OPOS_SUCCESS);
  }
  void OpenAndClaim(const DrawerKey& key = {}, const LibraryProfile& library = kFakeSerial) {
    Open(key, library);
    ASSERT_EQ(drawer_->ClaimDevice(0), OPOS_SUCCESS);
  }
  void Enable() {
    drawer_->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(drawer_->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  }
  // Attaches a printer service to the drawer's port, as joining a port does.
  void AttachPrinter() { port_->printer.store(&printer_); }

  // Pumps the opening thread (so events arrive) until there are n StatusUpdate
  // events or timeoutMs passed.
  bool PumpUntilEvents(size_t n, int timeoutMs = 4000) {
    const uint32_t start = platform::TickCount();
    while (control_.status.size() < n) {
      if (platform::TickCount() - start > static_cast<uint32_t>(timeoutMs)) return false;
      platform::PumpWait(50);
    }
    return true;
  }
  // Pumps for ms, letting any pending events arrive.
  void PumpFor(int ms) { platform::PumpWait(ms); }

  std::string dir_;
  FakeControl control_;
  FakePrinter printer_;
  std::unique_ptr<CCashDrawer> drawer_;
  FakePort* port_ = nullptr;
};

inline std::string Bytes(std::initializer_list<uint8_t> b) {
  return std::string(b.begin(), b.end());
}

}  // namespace opos::test
