// The parallel and USB Service Object libraries end to end: the Control
// Objects load them by ProgID from a temporary registry and drive them against
// the virtual printer on a pseudo-terminal, whose absolute link path stands in
// for the printer's character device.
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/clock.h"
#include "platform/com_registry.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::test {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

const char* kDrawerClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
const char* kPrinterClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
// What the serial library sends ahead of "abc" with the default properties.
const std::string kPrefix = "\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x46\x1d\x42\x30\x1b\x61\x30\x1b\x33\x3c";
const std::string kAsbEnable = "\x1d\x61\xff";
const std::string kDrawerStatusRequest = "\x10\x04\x01";
const std::string kPin2Pulse = "\x1b\x70\x30\x64\xc8";

struct Transport {
  const char* name;
  const char* library;
  const char* printerProgId;
  const char* drawerProgId;
  const char* portValue;  // the registry value that names the device
};

// Names the parameter in test listings (instead of its raw bytes).
void PrintTo(const Transport& t, std::ostream* os) {
  *os << t.name;
}

const Transport kParallel{"Parallel", "libparallelso.so", "KELVORA.RecPrinter.SOP", "KELVORA.CashDrawer.SOP",
                          "Port"};
const Transport kUsb{"Usb", "libusbso.so", "KELVORA.RecPrinter.SOU", "KELVORA.CashDrawer.SOU",
                     "SymbolicLink"};

uint32_t Since(uint32_t start) {
  return platform::TickCount() - start;
}

bool Contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

class OtherPorts : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opos-other-ports-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    std::string err;
    store_ = reg::Store::Open(dir_ + "/registry.db", &err);
    ASSERT_NE(store_, nullptr) << err;
    library_ = ::dlopen((std::string(OPOS_BUILD_DIR) + "/service/" + GetParam().library).c_str(),
                        RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(library_, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), com::S_OK);

    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    vp_ = std::make_unique<vprinter::VirtualPrinter>(options);
    ASSERT_TRUE(vp_->Start(&err)) << err;
    baseFds_ = SlaveFds();
  }

  void TearDown() override {
    drawer_.reset();
    printer_.reset();
    if (vp_) vp_->Stop();
    vp_.reset();
    store_.reset();
    if (library_) ::dlclose(library_);
    ::unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Sz(const std::string& key, const char* name, const std::string& v) {
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, {name, reg::REG_SZ, reg::SzData(v)}), reg::kOk);
  }
  void Dword(const std::string& key, const char* name, uint32_t v) {
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, {name, reg::REG_DWORD, reg::DwordData(v)}),
              reg::kOk);
  }
  // A device key as the setup tool writes it for this transport; port empty:
  // the virtual printer's link.
  void AddDevice(bool drawer, const std::string& name, std::string port = {}) {
    const std::string key = std::string(drawer ? kDrawerClass : kPrinterClass) + "\\" + name;
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    Sz(key, "", drawer ? GetParam().drawerProgId : GetParam().printerProgId);
    Sz(key, GetParam().portValue, port.empty() ? vp_->LinkPath() : port);
    if (drawer) {
      Sz(key, "DeviceName", "StandardCash");
      Dword(key, "ConnectorPinNo", 2);
      Dword(key, "OpenLevel", 1);
    } else {
      Sz(key, "DeviceName", "QMT500");
    }
  }

  void StartPrinterService() {
    AddDevice(false, "Printer1");
    printer_ = std::make_unique<control::POSPrinter>();
    printer_->OnStatusUpdate([this](int32_t d) { printerEvents_.push_back(d); });
    ASSERT_EQ(printer_->Open("Printer1"), OPOS_SUCCESS) << printer_->LastErrorText();
    ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
    printer_->SetDeviceEnabled(true);
    ASSERT_EQ(printer_->ResultCode(), OPOS_SUCCESS);
  }
  void StartDrawerService() {
    AddDevice(true, "Drawer1");
    drawer_ = std::make_unique<control::CashDrawer>();
    drawer_->OnStatusUpdate([this](int32_t d) { drawerEvents_.push_back(d); });
    ASSERT_EQ(drawer_->Open("Drawer1"), OPOS_SUCCESS) << drawer_->LastErrorText();
    ASSERT_EQ(drawer_->ClaimDevice(1000), OPOS_SUCCESS);
    drawer_->SetDeviceEnabled(true);
    ASSERT_EQ(drawer_->ResultCode(), OPOS_SUCCESS);
  }

  // Delivers the events of this thread (both services') until done holds.
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 8000) {
    const uint32_t start = platform::TickCount();
    while (!done()) {
      if (Since(start) > static_cast<uint32_t>(timeoutMs)) return false;
      if (printer_) {
        printer_->PumpEvents(20);
      } else {
        drawer_->PumpEvents(20);
      }
    }
    return true;
  }
  static std::function<bool()> Has(const std::vector<int32_t>& events, int32_t value) {
    return [&events, value] { return std::count(events.begin(), events.end(), value) > 0; };
  }
  static std::function<bool()> AtLeast(const std::vector<int32_t>& events, size_t n) {
    return [&events, n] { return events.size() >= n; };
  }

  std::string Captured() const {
    const auto c = vp_->Capture();
    return std::string(c.begin(), c.end());
  }
  std::string CapturedAtLeast(size_t n) const {
    EXPECT_TRUE(vp_->WaitForBytes(n, 10s)) << "have " << Captured().size();
    return Captured();
  }
  bool WaitForKick() const {
    return vp_->WaitUntil([](const vprinter::PrinterModel& m) { return m.Status().drawerKicks >= 1; }, 8s);
  }

  // Descriptors of this process open on the printer's pseudo-terminal.
  int SlaveFds() const {
    int n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
      std::error_code rec;
      if (std::filesystem::read_symlink(e.path(), rec) == vp_->SlavePath()) ++n;
    }
    return n;
  }

  std::string dir_;
  std::unique_ptr<reg::Store> store_;
  void* library_ = nullptr;
  std::unique_ptr<vprinter::VirtualPrinter> vp_;
  int baseFds_ = 0;  // the virtual printer's own hold on the slave
  std::unique_ptr<control::POSPrinter> printer_;
  std::unique_ptr<control::CashDrawer> drawer_;
  std::vector<int32_t> printerEvents_;
  std::vector<int32_t> drawerEvents_;
};

TEST_P(OtherPorts, ClaimEnablesStatusBackAndPrintsTheSerialLibrarysBytes) {
  AddDevice(false, "Printer1");
  printer_ = std::make_unique<control::POSPrinter>();
  ASSERT_EQ(printer_->Open("Printer1"), OPOS_SUCCESS) << printer_->LastErrorText();
  ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
  // The claim asks for Automatic Status Back, and nothing else.
  EXPECT_EQ(CapturedAtLeast(kAsbEnable.size()), kAsbEnable);
  EXPECT_GE(vp_->Status().asbReports, 1u);
  vp_->ClearCapture();
  printer_->SetDeviceEnabled(true);
  ASSERT_EQ(printer_->ResultCode(), OPOS_SUCCESS);
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 3), kPrefix + "abc");
  EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(SlaveFds(), baseFds_);
}

TEST_P(OtherPorts, AMissingDeviceTimesTheClaimOutAfterAtLeastThreeSeconds) {
  AddDevice(false, "Printer1", dir_ + "/absent");
  printer_ = std::make_unique<control::POSPrinter>();
  ASSERT_EQ(printer_->Open("Printer1"), OPOS_SUCCESS) << printer_->LastErrorText();
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(printer_->ClaimDevice(1000), OPOS_E_TIMEOUT);
  const uint32_t took = Since(start);
  EXPECT_GE(took, 3000u);
  EXPECT_LT(took, 6000u);
  EXPECT_FALSE(printer_->Claimed());
  EXPECT_EQ(vp_->Capture().size(), 0u);
}

TEST_P(OtherPorts, TheCoverOpeningIsReportedFromTheStatusReports) {
  StartPrinterService();
  ASSERT_TRUE(PumpUntil(Has(printerEvents_, PTR_SUE_REC_PAPEROK)));
  // Enabling a ready printer reports its state afresh, in this order, in every library.
  EXPECT_EQ(printerEvents_, (std::vector<int32_t>{PTR_SUE_COVER_OK, PTR_SUE_REC_PAPEROK}));
  vp_->SetCoverOpen(true);
  ASSERT_TRUE(PumpUntil(Has(printerEvents_, PTR_SUE_COVER_OPEN)));
  EXPECT_TRUE(printer_->CoverOpen());
  vp_->ClearCapture();
  EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_E_EXTENDED);
  EXPECT_EQ(printer_->ResultCodeExtended(), OPOS_EPTR_COVER_OPEN);
  vp_->SetCoverOpen(false);
  ASSERT_TRUE(PumpUntil(
      [this] { return std::count(printerEvents_.begin(), printerEvents_.end(), PTR_SUE_COVER_OK) >= 2; }));
  EXPECT_FALSE(printer_->CoverOpen());
  // Only the port's renewed status requests went out while the cover was open.
  std::string sent = Captured();
  for (size_t at; (at = sent.find(kAsbEnable)) != std::string::npos;) sent.erase(at, kAsbEnable.size());
  EXPECT_EQ(sent, "");
}

TEST_P(OtherPorts, ADrawerAloneAsksForItsStatusAndOpensWithThePin2Pulse) {
  StartDrawerService();
  ASSERT_TRUE(PumpUntil(AtLeast(drawerEvents_, 1)));
  EXPECT_EQ(drawerEvents_[0], CASH_SUE_DRAWERCLOSED);
  EXPECT_FALSE(drawer_->DrawerOpened());
  // Without a printer service on the port, the drawer reads its sensor from
  // real-time status replies.
  EXPECT_TRUE(Contains(CapturedAtLeast(kDrawerStatusRequest.size()), kDrawerStatusRequest));
  EXPECT_GE(vp_->Status().realtimeReplies, 1u);
  EXPECT_FALSE(Contains(Captured(), kAsbEnable));

  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  ASSERT_TRUE(WaitForKick());
  EXPECT_TRUE(Contains(Captured(), kPin2Pulse));
  ASSERT_TRUE(PumpUntil(Has(drawerEvents_, CASH_SUE_DRAWEROPEN)));
  EXPECT_TRUE(drawer_->DrawerOpened());
  vp_->CloseDrawer();
  ASSERT_TRUE(PumpUntil(AtLeast(drawerEvents_, 3)));
  EXPECT_THAT(drawerEvents_, ElementsAre(CASH_SUE_DRAWERCLOSED, CASH_SUE_DRAWEROPEN, CASH_SUE_DRAWERCLOSED));
  EXPECT_FALSE(drawer_->DrawerOpened());
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(SlaveFds(), baseFds_);
}

TEST_P(OtherPorts, APrinterAndADrawerShareOnePort) {
  StartPrinterService();
  StartDrawerService();
  EXPECT_EQ(SlaveFds(), baseFds_ + 1);  // one descriptor for both services
  ASSERT_TRUE(PumpUntil(AtLeast(drawerEvents_, 1)));
  EXPECT_EQ(drawerEvents_[0], CASH_SUE_DRAWERCLOSED);

  vp_->ClearCapture();
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "abc"), OPOS_SUCCESS);
  EXPECT_EQ(CapturedAtLeast(kPrefix.size() + 3), kPrefix + "abc");
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  ASSERT_TRUE(WaitForKick());
  EXPECT_TRUE(Contains(Captured(), kPin2Pulse));
  // The drawer reads its sensor from the printer's status reports.
  ASSERT_TRUE(PumpUntil(Has(drawerEvents_, CASH_SUE_DRAWEROPEN)));
  vp_->CloseDrawer();
  ASSERT_TRUE(PumpUntil(AtLeast(drawerEvents_, 3)));
  EXPECT_THAT(drawerEvents_, ElementsAre(CASH_SUE_DRAWERCLOSED, CASH_SUE_DRAWEROPEN, CASH_SUE_DRAWERCLOSED));

  EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(SlaveFds(), baseFds_ + 1);  // the drawer keeps the port
  vp_->OpenDrawer();
  ASSERT_TRUE(PumpUntil(AtLeast(drawerEvents_, 4)));
  EXPECT_EQ(drawerEvents_[3], CASH_SUE_DRAWEROPEN);
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(SlaveFds(), baseFds_);
}

std::string TransportName(const ::testing::TestParamInfo<Transport>& t) {
  return t.param.name;
}
INSTANTIATE_TEST_SUITE_P(Transports, OtherPorts, ::testing::Values(kParallel, kUsb), TransportName);

}  // namespace
}  // namespace opos::test
