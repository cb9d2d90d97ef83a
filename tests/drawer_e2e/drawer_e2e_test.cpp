// The cash drawer of serialso end to end: the Control Object loads the library
// by ProgID from a temporary registry and drives it against the virtual
// printer on a pseudo-terminal.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/clock.h"
#include "platform/dispatch.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::test {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

const char* kDrawerClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
const char* kPrinterClass = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
const std::vector<uint8_t> kPin2{0x1B, 0x70, 0x30, 0x64, 0xC8};
const std::vector<uint8_t> kPin5{0x1B, 0x70, 0x31, 0x64, 0xC8};

struct ToneRecord {
  uint32_t tick;
  int32_t frequency;
  int32_t duration;
};

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

uint32_t Since(uint32_t start) {
  return platform::TickCount() - start;
}

class DrawerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/opos-drawer-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ::setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    toneLog_ = dir_ + "/tones.log";
    ::setenv("OPOS_TONE_LOG", toneLog_.c_str(), 1);
    std::string err;
    store_ = reg::Store::Open(reg::Store::DefaultPath(), &err);
    ASSERT_NE(store_, nullptr) << err;

    library_ = ::dlopen(OPOS_BUILD_DIR "/service/libserialso.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(library_, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), com::S_OK);
  }
  void StartPrinter(vprinter::PrinterConfig config = {}) {
    vprinter::VirtualPrinterOptions options;
    options.printer = config;
    options.linkPath = dir_ + "/printer";
    vp_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string err;
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
    ::unsetenv("OPOS_TONE_LOG");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Dword(const std::string& key, const char* name, int32_t v) {
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key,
                               {name, reg::REG_DWORD, reg::DwordData(static_cast<uint32_t>(v))}),
              reg::kOk);
  }
  void Sz(const std::string& key, const char* name, const std::string& v) {
    ASSERT_EQ(store_->SetValue(reg::Root::LocalMachine, key, {name, reg::REG_SZ, reg::SzData(v)}), reg::kOk);
  }
  void AddDevice(bool drawer, const std::string& name, int32_t pin = 2, int32_t openLevel = 1) {
    const std::string key = std::string(drawer ? kDrawerClass : kPrinterClass) + "\\" + name;
    ASSERT_EQ(store_->CreateKey(reg::Root::LocalMachine, key), reg::kOk);
    Sz(key, "", drawer ? "KELVORA.CashDrawer.SO" : "KELVORA.RecPrinter.SO");
    Dword(key, "Baudrate", 6);
    Dword(key, "BitLength", 8);
    Dword(key, "HandShake", 0);
    Dword(key, "Parity", 0);
    Dword(key, "Stop", 1);
    Dword(key, "XonXoff", 0);
    Sz(key, "Port", vp_->LinkPath());
    if (drawer) {
      Sz(key, "DeviceName", "StandardCash");
      Dword(key, "ConnectorPinNo", pin);
      Dword(key, "OpenLevel", openLevel);
    } else {
      Sz(key, "DeviceName", "KLP-T80");
    }
  }

  // A drawer opened, claimed and (when asked) enabled through the Control Object.
  void StartDrawer(int32_t pin = 2, int32_t openLevel = 1, bool enable = true) {
    AddDevice(true, "Drawer1", pin, openLevel);
    drawer_ = std::make_unique<control::CashDrawer>();
    drawer_->OnStatusUpdate([this](int32_t data) { events_.push_back(data); });
    ASSERT_EQ(drawer_->Open("Drawer1"), OPOS_SUCCESS) << drawer_->LastErrorText();
    ASSERT_EQ(drawer_->ClaimDevice(1000), OPOS_SUCCESS);
    if (enable) {
      drawer_->SetDeviceEnabled(true);
      ASSERT_EQ(drawer_->ResultCode(), OPOS_SUCCESS);
    }
  }
  void StartPrinterService() {
    AddDevice(false, "Printer1");
    printer_ = std::make_unique<control::POSPrinter>();
    ASSERT_EQ(printer_->Open("Printer1"), OPOS_SUCCESS) << printer_->LastErrorText();
    ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
    printer_->SetDeviceEnabled(true);
    ASSERT_EQ(printer_->ResultCode(), OPOS_SUCCESS);
  }

  // Delivers events until there are n of them.
  bool PumpUntilEvents(size_t n, int timeoutMs = 4000) {
    const uint32_t start = platform::TickCount();
    while (events_.size() < n) {
      if (Since(start) > static_cast<uint32_t>(timeoutMs)) return false;
      drawer_->PumpEvents(50);
    }
    return true;
  }

  std::vector<ToneRecord> Tones() const {
    std::vector<ToneRecord> tones;
    std::ifstream in(toneLog_);
    ToneRecord t{};
    while (in >> t.tick >> t.frequency >> t.duration) tones.push_back(t);
    return tones;
  }
  // Runs action (on a helper thread) once n tones have sounded.
  std::thread AtTone(size_t n, std::function<void()> action) {
    return std::thread([this, n, action] {
      const uint32_t start = platform::TickCount();
      while (Tones().size() < n && Since(start) < 15000) platform::SleepMs(20);
      action();
    });
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
  std::string toneLog_;
  std::unique_ptr<reg::Store> store_;
  void* library_ = nullptr;
  std::unique_ptr<vprinter::VirtualPrinter> vp_;
  int baseFds_ = 0;  // the virtual printer's own hold on the slave
  std::unique_ptr<control::CashDrawer> drawer_;
  std::unique_ptr<control::POSPrinter> printer_;
  std::vector<int32_t> events_;
};

struct PinCase {
  int32_t pin;
  std::vector<uint8_t> pulse;  // empty: nothing is sent
};

class DrawerE2EPins : public DrawerE2E, public ::testing::WithParamInterface<PinCase> {};

TEST_P(DrawerE2EPins, ConnectorPinSendsItsPulseAndTheDrawerReportsOpen) {
  StartPrinter();
  StartDrawer(GetParam().pin);
  ASSERT_TRUE(PumpUntilEvents(1));
  vp_->ClearCapture();
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->ResultCode(), OPOS_SUCCESS);
  if (GetParam().pulse.empty()) {
    drawer_->PumpEvents(1500);
    EXPECT_EQ(vp_->DrawerKicks(), 0u);
    EXPECT_FALSE(Contains(vp_->Capture(), {0x1B, 0x70}));
    EXPECT_THAT(events_, ElementsAre(CASH_SUE_DRAWERCLOSED));
  } else {
    ASSERT_TRUE(
        vp_->WaitUntil([](const vprinter::PrinterModel& m) { return m.Status().drawerKicks >= 1; }, 2000ms));
    EXPECT_TRUE(Contains(vp_->Capture(), GetParam().pulse));
    ASSERT_TRUE(PumpUntilEvents(2));
    EXPECT_THAT(events_, ElementsAre(CASH_SUE_DRAWERCLOSED, CASH_SUE_DRAWEROPEN));
    EXPECT_TRUE(drawer_->DrawerOpened());
  }
}

INSTANTIATE_TEST_SUITE_P(Pins, DrawerE2EPins,
                         ::testing::Values(PinCase{2, kPin2}, PinCase{5, kPin5}, PinCase{0, {}},
                                           PinCase{9, {}}));

TEST_F(DrawerE2E, EnablingReportsClosedThenEveryChange) {
  StartPrinter();
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDXCash_CapStatus), 1);
  vp_->OpenDrawer();
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_TRUE(drawer_->DrawerOpened());
  vp_->CloseDrawer();
  ASSERT_TRUE(PumpUntilEvents(3));
  drawer_->PumpEvents(1200);
  EXPECT_THAT(events_, ElementsAre(CASH_SUE_DRAWERCLOSED, CASH_SUE_DRAWEROPEN, CASH_SUE_DRAWERCLOSED));
  EXPECT_FALSE(drawer_->DrawerOpened());
}

TEST_F(DrawerE2E, OpenLevelZeroInvertsTheReading) {
  StartPrinter();
  StartDrawer(2, 0);
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(events_[0], CASH_SUE_DRAWEROPEN);
  EXPECT_TRUE(drawer_->DrawerOpened());
  vp_->OpenDrawer();
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(events_[1], CASH_SUE_DRAWERCLOSED);
}

TEST_F(DrawerE2E, WaitForDrawerCloseBeepsUntilTheDrawerCloses) {
  StartPrinter();
  vp_->OpenDrawer();
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  ASSERT_EQ(events_[0], CASH_SUE_DRAWEROPEN);

  std::atomic<uint32_t> closedAt{0};
  std::thread closer = AtTone(3, [&] {
    closedAt = platform::TickCount();
    vp_->CloseDrawer();
  });
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_SUCCESS);
  const uint32_t returned = platform::TickCount();
  closer.join();

  const auto tones = Tones();
  ASSERT_GE(tones.size(), 3u);
  EXPECT_GE(tones[0].tick - start, 1650u);
  EXPECT_LT(tones[0].tick - start, 2400u);
  for (size_t i = 0; i < tones.size(); ++i) {
    EXPECT_EQ(tones[i].frequency, 1000);
    EXPECT_EQ(tones[i].duration, 200);
    if (i > 0) {
      EXPECT_GE(tones[i].tick - tones[i - 1].tick, 450u) << i;
      EXPECT_LT(tones[i].tick - tones[i - 1].tick, 700u) << i;
    }
  }
  EXPECT_LT(returned - closedAt.load(), 2000u);  // about one poller cycle after the close
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(events_[1], CASH_SUE_DRAWERCLOSED);
  // The tone ends with the wait (one already under way may still sound).
  drawer_->PumpEvents(1200);
  EXPECT_LE(Tones().size(), tones.size() + 1);
}

TEST_F(DrawerE2E, APrinterThatVanishesEndsTheWaitWithAFailureAndTheTone) {
  StartPrinter();
  vp_->OpenDrawer();
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  ASSERT_EQ(events_[0], CASH_SUE_DRAWEROPEN);
  std::thread gone = AtTone(1, [&] { vp_->Stop(); });
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(0, 1000, 100, 100), OPOS_E_FAILURE);
  gone.join();
  EXPECT_LT(Since(start), 8000u);
  const size_t tones = Tones().size();
  drawer_->PumpEvents(600);
  EXPECT_LE(Tones().size(), tones + 1);  // one already under way may still sound
}

TEST_F(DrawerE2E, WaitForDrawerCloseWithTheDrawerClosedReturnsAfterTheLook) {
  StartPrinter();
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_SUCCESS);
  EXPECT_GE(Since(start), 1150u);
  EXPECT_LT(Since(start), 1800u);
  EXPECT_TRUE(Tones().empty());
}

TEST_F(DrawerE2E, MethodsOnAClosedOrUnclaimedDrawer) {
  StartPrinter();
  AddDevice(true, "Drawer1");
  control::CashDrawer drawer;
  EXPECT_EQ(drawer.OpenDrawer(), OPOS_E_CLOSED);
  EXPECT_EQ(drawer.WaitForDrawerClose(500, 1000, 200, 300), OPOS_E_CLOSED);
  ASSERT_EQ(drawer.Open("Drawer1"), OPOS_SUCCESS);
  EXPECT_EQ(drawer.OpenDrawer(), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(drawer.ResultCode(), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(drawer.WaitForDrawerClose(500, 1000, 200, 300), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(drawer.Close(), OPOS_SUCCESS);
  EXPECT_EQ(drawer.OpenDrawer(), OPOS_E_CLOSED);
  EXPECT_EQ(vp_->DrawerKicks(), 0u);
}

class DrawerE2EShared : public DrawerE2E, public ::testing::WithParamInterface<bool> {};

TEST_P(DrawerE2EShared, PrinterAndDrawerShareOnePortAndLeaveItClosed) {
  const bool printerFirst = GetParam();
  StartPrinter();
  StartPrinterService();
  StartDrawer();
  EXPECT_EQ(SlaveFds(), baseFds_ + 1);  // one descriptor for both services
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(events_[0], CASH_SUE_DRAWERCLOSED);

  // The pulse waits until the printer has been quiet for more than a second.
  std::atomic<uint32_t> kickedAt{0};
  std::thread watcher([&] {
    if (vp_->WaitUntil([](const vprinter::PrinterModel& m) { return m.Status().drawerKicks >= 1; }, 8000ms)) {
      kickedAt = platform::TickCount();
    }
  });
  const uint32_t printStart = platform::TickCount();
  ASSERT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "Hello\n"), OPOS_SUCCESS);
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  watcher.join();
  ASSERT_NE(kickedAt.load(), 0u);
  EXPECT_GT(kickedAt.load() - printStart, 1000u);
  EXPECT_LT(kickedAt.load() - printStart, 2500u);

  // Read from the printer's status reports, the drawer opens and closes.
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(events_[1], CASH_SUE_DRAWEROPEN);
  vp_->CloseDrawer();
  ASSERT_TRUE(PumpUntilEvents(3));
  EXPECT_EQ(events_[2], CASH_SUE_DRAWERCLOSED);

  if (printerFirst) {
    EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
    EXPECT_EQ(SlaveFds(), baseFds_ + 1);
    // The drawer carries on alone on the port.
    vp_->OpenDrawer();
    ASSERT_TRUE(PumpUntilEvents(4));
    EXPECT_EQ(events_[3], CASH_SUE_DRAWEROPEN);
    EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  } else {
    EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
    EXPECT_EQ(SlaveFds(), baseFds_ + 1);
    EXPECT_EQ(printer_->PrintNormal(PTR_S_RECEIPT, "Still here\n"), OPOS_SUCCESS);
    EXPECT_EQ(printer_->ReleaseDevice(), OPOS_SUCCESS);
  }
  EXPECT_EQ(SlaveFds(), baseFds_);
}

std::string OrderName(const ::testing::TestParamInfo<bool>& order) {
  return order.param ? "PrinterFirst" : "DrawerFirst";
}
INSTANTIATE_TEST_SUITE_P(ReleaseOrder, DrawerE2EShared, ::testing::Values(true, false), OrderName);

TEST_F(DrawerE2E, DrawerAloneLeavesThePortClosed) {
  StartPrinter();
  StartDrawer();
  EXPECT_EQ(SlaveFds(), baseFds_ + 1);
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_LT(Since(start), 1500u);
  EXPECT_EQ(SlaveFds(), baseFds_);
  EXPECT_EQ(drawer_->Close(), OPOS_SUCCESS);
}

TEST_F(DrawerE2E, PrinterThatNeverReportsLeavesTheDrawerClosed) {
  StartPrinter();
  vp_->SetPower(false);
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  EXPECT_EQ(events_[0], CASH_SUE_DRAWERCLOSED);
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_SUCCESS);
  EXPECT_LT(Since(start), 1800u);
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);  // sent; a dead printer cannot say otherwise
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(SlaveFds(), baseFds_);
}

TEST_F(DrawerE2E, PrinterSwitchedOffWhileWaitingThenBackWithTheDrawerClosed) {
  vprinter::PrinterConfig config;
  config.asbMaskAtPowerOn = 0xFF;  // reports its state as soon as it is back
  StartPrinter(config);
  vp_->OpenDrawer();
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));
  ASSERT_EQ(events_[0], CASH_SUE_DRAWEROPEN);

  std::thread off = AtTone(1, [&] { vp_->SetPower(false); });
  std::thread back = AtTone(4, [&] {
    vp_->CloseDrawer();
    vp_->SetPower(true);
  });
  EXPECT_EQ(drawer_->WaitForDrawerClose(200, 1000, 100, 200), OPOS_SUCCESS);
  off.join();
  back.join();
  EXPECT_GE(Tones().size(), 4u);
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_LT(Since(start), 1500u);
}

}  // namespace
}  // namespace opos::test

namespace opos::test {
namespace {

// Another process (the opos tool) trying the drawer of a port this process
// holds: refused with the holder named, while every report here still arrives.
TEST_F(DrawerE2E, AnotherProcessIsRefusedTheHeldPortAndTakesNoReportAway) {
  ::setenv("OPOS_LOCK_DIR", (dir_ + "/locks").c_str(), 1);
  StartPrinter();
  AddDevice(false, "Printer1");
  std::vector<int32_t> printerEvents;
  printer_ = std::make_unique<control::POSPrinter>();
  printer_->OnStatusUpdate([&](int32_t data) { printerEvents.push_back(data); });
  ASSERT_EQ(printer_->Open("Printer1"), OPOS_SUCCESS) << printer_->LastErrorText();
  ASSERT_EQ(printer_->ClaimDevice(1000), OPOS_SUCCESS);
  printer_->SetDeviceEnabled(true);
  StartDrawer();
  ASSERT_TRUE(PumpUntilEvents(1));  // closed, at enabling

  // The other process asks for another line speed: being refused, it must not set it.
  auto lineSpeed = [&] {
    const int fd = ::open(vp_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    const bool got = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (fd >= 0) ::close(fd);
    return got ? ::cfgetospeed(&t) : static_cast<speed_t>(-1);
  };
  const speed_t speed = lineSpeed();
  Dword(std::string(kDrawerClass) + "\\Drawer1", "Baudrate", 3);
  const std::string out = dir_ + "/tool.out", err = dir_ + "/tool.err", script = dir_ + "/script";
  std::ofstream(script) << "ClaimDevice 1500\n";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const char* argv[] = {OPOS_TOOL,  "run",     "--class",      "CashDrawer",
                        "--device", "Drawer1", script.c_str(), nullptr};
  pid_t tool = -1;
  ASSERT_EQ(::posix_spawn(&tool, OPOS_TOOL, &fa, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&fa);

  // Cycles of cover, paper and drawer while the other process keeps trying.
  constexpr int kCycles = 2;
  auto count = [&](int32_t v) { return std::count(printerEvents.begin(), printerEvents.end(), v); };
  auto pumpUntil = [&](const std::function<bool()>& done) {
    const uint32_t start = platform::TickCount();
    while (!done()) {
      if (Since(start) > 5000) return false;
      drawer_->PumpEvents(20);
    }
    return true;
  };
  auto seen = [&] {
    std::string s = "drawer events:";
    for (int32_t v : events_) s += " " + std::to_string(v);
    s += "; printer events:";
    for (int32_t v : printerEvents) s += " " + std::to_string(v);
    return s;
  };
  for (int i = 1; i <= kCycles; ++i) {
    vp_->SetCoverOpen(true);
    ASSERT_TRUE(pumpUntil([&] { return count(PTR_SUE_COVER_OPEN) == i; })) << "cycle " << i;
    vp_->SetCoverOpen(false);
    ASSERT_TRUE(pumpUntil([&] { return count(PTR_SUE_COVER_OK) >= i; })) << "cycle " << i;
    vp_->SetPaperEnd(true);
    ASSERT_TRUE(pumpUntil([&] { return count(PTR_SUE_REC_EMPTY) == i; })) << "cycle " << i;
    vp_->SetPaperEnd(false);
    ASSERT_TRUE(pumpUntil([&] { return count(PTR_SUE_REC_PAPEROK) >= i; })) << "cycle " << i;
    vp_->OpenDrawer();
    ASSERT_TRUE(pumpUntil([&] { return std::count(events_.begin(), events_.end(), 1) == i; }))
        << "cycle " << i << "; " << seen();
    vp_->CloseDrawer();
    ASSERT_TRUE(pumpUntil([&] { return std::count(events_.begin(), events_.end(), 0) == i + 1; }))
        << "cycle " << i << "; " << seen();
  }

  int status = 0;
  ASSERT_EQ(::waitpid(tool, &status, 0), tool);
  ::unsetenv("OPOS_LOCK_DIR");
  EXPECT_EQ(lineSpeed(), speed);
  std::ifstream o(out), e(err);
  std::string outText((std::istreambuf_iterator<char>(o)), {}),
      errText((std::istreambuf_iterator<char>(e)), {});
  EXPECT_NE(outText.find(R"("result":112)"), std::string::npos) << outText;
  EXPECT_NE(errText.find("held by process " + std::to_string(::getpid())), std::string::npos) << errText;
}

}  // namespace
}  // namespace opos::test
