// End to end: the serial Service Object library, loaded through the POSPrinter
// Control Object from a fresh registry store, printing to the virtual printer
// on a pseudo-terminal. Events are recorded on the test (opening) thread.
#pragma once

#include <dlfcn.h>
#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/pos_printer.h"
#include "platform/com_registry.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::receipt {

inline const std::string kPrefix = "\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x46\x1d\x42\x30\x1b\x61\x30\x1b\x33\x3c";

inline const std::string kStatusRequest = "\x1d\x61\xff";

struct Event {
  std::string what;  // "status", "complete", "error"
  int32_t value;     // Data, OutputID, ResultCodeExtended
  bool operator==(const Event&) const = default;
};

class ReceiptEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opos-receipt-XXXXXX";
    const char* made = mkdtemp(tmpl);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    std::string error;
    store_ = reg::Store::Open(dir_ + "/registry.db", &error);
    ASSERT_NE(store_, nullptr) << error;
    void* lib =
        dlopen((std::string(OPOS_BUILD_DIR) + "/service/libserialso.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<com::DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), com::S_OK);
    dlclose(lib);
  }

  void TearDown() override {
    printer.Close();
    vprinter_.reset();
    store_.reset();
    unsetenv("OPOS_REGISTRY");
    unsetenv("OPOS_PTY_LINE_STATE");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Starts the virtual printer and opens and claims the device "Receipt" of
  // the given model on its link. The capture starts empty after the claim.
  void OpenPrinter(const std::string& model = "QMT500", vprinter::PrinterConfig config = {}) {
    vprinter::VirtualPrinterOptions options;
    options.printer = config;
    options.linkPath = dir_ + "/printer";
    if (powerOnTheLine) {
      // The printer's power shows on the line as CTS, as on a real cable.
      options.lineStatePath = dir_ + "/line";
      setenv("OPOS_PTY_LINE_STATE", options.lineStatePath.c_str(), 1);
    }
    vprinter_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    ASSERT_TRUE(vprinter_->Start(&error)) << error;
    AddSerialDevice("SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Receipt", "KELVORA.RecPrinter.SO",
                    model);

    printer.OnStatusUpdate([this](int32_t d) { events.push_back({"status", d}); });
    printer.OnOutputComplete([this](int32_t id) {
      events.push_back({"complete", id});
      if (onComplete) onComplete(id);
    });
    printer.OnError([this](int32_t rc, int32_t rce, int32_t locus, int32_t& response) {
      events.push_back({"error", rce});
      errorCodes.push_back(rc);
      EXPECT_EQ(locus, OPOS_EL_OUTPUT);
      EXPECT_EQ(response, OPOS_ER_RETRY);
      if (onError) onError(response);
    });
    ASSERT_EQ(printer.Open("Receipt"), OPOS_SUCCESS) << printer.LastErrorText();
    ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
    // The claim's own status request (GS a 255).
    ASSERT_TRUE(vprinter_->WaitForBytes(3, std::chrono::seconds(5)));
    EXPECT_EQ(Captured(), "\x1d\x61\xff");
    vprinter_->ClearCapture();
  }

  // A device key of the serial library on the virtual printer's link.
  void AddSerialDevice(const std::string& key, const std::string& progId, const std::string& model) {
    SetSz(key, "", progId);
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0}}) {
      SetDword(key, n, v);
    }
    SetSz(key, "Port", dir_ + "/printer");
    SetSz(key, "DeviceName", model);
  }

  void Enable() {
    printer.SetDeviceEnabled(true);
    ASSERT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  }

  std::string Captured() const {
    const auto c = vprinter_->Capture();
    return std::string(c.begin(), c.end());
  }
  // What was printed: the capture without the status requests (GS a 255)
  // that the port repeats while the printer reports an error.
  std::string Printed() const {
    std::string c = Captured();
    for (size_t at; (at = c.find(kStatusRequest)) != std::string::npos;) c.erase(at, kStatusRequest.size());
    return c;
  }
  // Waits until the virtual printer holds n bytes, then returns them all.
  std::string CapturedAtLeast(size_t n) const {
    EXPECT_TRUE(vprinter_->WaitForBytes(n, std::chrono::seconds(10))) << "have " << Captured().size();
    return Captured();
  }

  // Delivers events as they arrive until done() holds; false after timeoutMs.
  bool DeliverUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
              .count();
      if (left <= 0) return false;
      // Short slices: some conditions (properties the workers set) come
      // without an event.
      pollfd p{printer.EventFd(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(std::min<long>(left, 20))) == 1) printer.DispatchEvents();
    }
    return true;
  }
  size_t Count(const std::string& what, int32_t value) const {
    size_t n = 0;
    for (const Event& e : events) n += e.what == what && e.value == value;
    return n;
  }
  std::function<bool()> Saw(const std::string& what, int32_t value, size_t times = 1) {
    return [=, this] { return Count(what, value) >= times; };
  }
  std::vector<int32_t> Values(const std::string& what) const {
    std::vector<int32_t> out;
    for (const Event& e : events) {
      if (e.what == what) out.push_back(e.value);
    }
    return out;
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

  bool powerOnTheLine = false;  // set before OpenPrinter
  control::POSPrinter printer;
  std::vector<Event> events;
  std::vector<int32_t> errorCodes;
  std::function<void(int32_t& response)> onError;
  std::function<void(int32_t id)> onComplete;
  std::unique_ptr<vprinter::VirtualPrinter> vprinter_;
  std::string dir_;
  std::unique_ptr<reg::Store> store_;
};

}  // namespace opos::receipt
