// Opening and closing: finding the device by key or logical name, creating the
// Service Object by ProgID, every way of failing to reach one, and the answers
// of a Control Object that is not open.
#include <sys/stat.h>

#include <thread>

#include "common/opos.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "tests/control/control_test_support.h"

namespace opos::control::testing {
namespace {

class OpenTest : public ControlEnvironment {
 protected:
  void SetUp() override {
    ControlEnvironment::SetUp();
    RegisterSerialLibrary();
    // OpenService does not touch the port; a claim would.
    AddSerialDevice(DeviceClass::POSPrinter, "Printer", "/dev/null");
    AddSerialDevice(DeviceClass::CashDrawer, "Drawer", "/dev/null");
  }
};

TEST_F(OpenTest, OpensByDeviceKeyAndByLogicalName) {
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS) << printer.LastErrorText();
  EXPECT_TRUE(printer.IsOpen());
  EXPECT_EQ(printer.DeviceName(), kPrinterProgId);
  EXPECT_EQ(printer.ServiceObjectVersion(), 1004001);
  EXPECT_EQ(printer.State(), OPOS_S_IDLE);
  EXPECT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  EXPECT_EQ(printer.Close(), OPOS_SUCCESS);
  EXPECT_FALSE(printer.IsOpen());
  EXPECT_EQ(printer.State(), OPOS_S_CLOSED);

  // Logical names resolve without regard to case, as registry names do.
  AddLogicalName(DeviceClass::POSPrinter, "Receipt", "Printer");
  ASSERT_EQ(printer.Open("RECEIPT"), OPOS_SUCCESS) << printer.LastErrorText();
  EXPECT_EQ(printer.OpenedName(), "RECEIPT");
  EXPECT_EQ(printer.DeviceDescription(), "OPOS POSPrinter");

  CashDrawer drawer;
  ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS) << drawer.LastErrorText();
  EXPECT_EQ(drawer.DeviceName(), kDrawerProgId);
  EXPECT_EQ(drawer.ServiceObjectDescription(), "OPOS Cash Drawer Service Object");
  EXPECT_EQ(drawer.CapPowerReporting(), OPOS_PR_NONE);
}

TEST_F(OpenTest, LogicalNameRulesMatchTheServiceObject) {
  // A logical name that points nowhere fails, even though a key of that name exists.
  AddSerialDevice(DeviceClass::POSPrinter, "Front", "/dev/null");
  AddLogicalName(DeviceClass::POSPrinter, "Front", "Ghost");
  POSPrinter printer;
  EXPECT_EQ(printer.Open("Front"), OPOS_E_NOSERVICE);
  EXPECT_NE(printer.LastErrorText().find("Ghost"), std::string::npos) << printer.LastErrorText();

  // An empty logical value falls back to the key named like the argument.
  AddLogicalName(DeviceClass::POSPrinter, "Front", "");
  EXPECT_EQ(printer.Open("Front"), OPOS_SUCCESS) << printer.LastErrorText();
}

struct FailureCase {
  const char* what;
  std::function<void(OpenTest&)> arrange;
  const char* device;
};

TEST_F(OpenTest, EveryWayOfMissingTheServiceGives104WithoutACrash) {
  const std::string msgqueue = std::string(OPOS_BUILD_DIR) + "/platform/libopos-msgqueue.so";
  const FailureCase cases[] = {
      {"no such device", [](OpenTest&) {}, "Nowhere"},
      {"empty name", [](OpenTest&) {}, ""},
      {"name reaching outside the class key", [](OpenTest&) {}, "..\\CashDrawer\\Drawer"},
      {"no default value",
       [](OpenTest& t) { t.SetDword(DeviceKey(DeviceClass::POSPrinter, "Bare"), "Baudrate", 6); }, "Bare"},
      {"default value not a string",
       [](OpenTest& t) { t.SetDword(DeviceKey(DeviceClass::POSPrinter, "Numeric"), "", 6); }, "Numeric"},
      {"class not registered",
       [](OpenTest& t) { t.SetSz(DeviceKey(DeviceClass::POSPrinter, "Printer"), "", "NOT.Registered"); },
       "Printer"},
      {"library does not load",
       [](OpenTest& t) {
         t.RegisterFake("TEST.Missing", "/nonexistent/libmissing.so");
         t.SetSz(DeviceKey(DeviceClass::POSPrinter, "Printer"), "", "TEST.Missing");
       },
       "Printer"},
      {"library without the exports",
       [msgqueue](OpenTest& t) {
         t.RegisterFake("TEST.NoExports", msgqueue);
         t.SetSz(DeviceKey(DeviceClass::POSPrinter, "Printer"), "", "TEST.NoExports");
       },
       "Printer"},
      {"Service Object refuses: a required value is missing",
       [](OpenTest& t) {
         ASSERT_EQ(t.store_->DeleteValue(reg::Root::LocalMachine,
                                         DeviceKey(DeviceClass::POSPrinter, "Printer"), "XonXoff"),
                   reg::kOk);
       },
       "Printer"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    c.arrange(*this);
    POSPrinter printer;
    EXPECT_EQ(printer.Open(c.device), OPOS_E_NOSERVICE);
    EXPECT_FALSE(printer.IsOpen());
    EXPECT_FALSE(printer.LastErrorText().empty());
    EXPECT_EQ(printer.ResultCode(), OPOS_E_NOSERVICE);
    EXPECT_EQ(printer.State(), OPOS_S_CLOSED);
    EXPECT_EQ(printer.ClaimDevice(1000), OPOS_E_CLOSED);
  }
}

TEST_F(OpenTest, MissingStoreIsReportedNotCreated) {
  const std::string missing = dir_ + "/absent.db";
  POSPrinter printer;
  printer.SetRegistryPath(missing);
  EXPECT_EQ(printer.Open("Printer"), OPOS_E_NOSERVICE);
  EXPECT_NE(printer.LastErrorText().find(missing), std::string::npos);
  struct stat st {};
  EXPECT_NE(::stat(missing.c_str(), &st), 0);
}

TEST_F(OpenTest, ServiceObjectRefusalKeepsItsCode) {
  RegisterFake();
  SetSz(DeviceKey(DeviceClass::POSPrinter, "Refusing"), "", kFakeProgId);
  POSPrinter printer;
  EXPECT_EQ(printer.Open("Refusing"), OPOS_E_FAILURE);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_FAILURE);
  EXPECT_FALSE(printer.IsOpen());
  auto live = FakeExport<int (*)()>("FakeSoLiveObjects");
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live(), 0);  // the refused object was let go
}

TEST_F(OpenTest, ClosedObjectAnswersByItself) {
  POSPrinter printer;
  EXPECT_EQ(printer.EventFd(), -1);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_CLOSED);
  EXPECT_EQ(printer.State(), OPOS_S_CLOSED);
  EXPECT_EQ(printer.PrintNormal(2, "x"), OPOS_E_CLOSED);
  EXPECT_EQ(printer.GetPropertyString(PIDX_DeviceName), "");
  EXPECT_EQ(printer.GetPropertyNumber(PIDX_Claimed), 0);
  EXPECT_EQ(printer.Close(), OPOS_E_CLOSED);
  int32_t data = 3;
  std::string text = "t";
  EXPECT_EQ(printer.DirectIO(1, data, text), OPOS_E_CLOSED);
  EXPECT_EQ(data, 3);

  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
  ASSERT_EQ(printer.Close(), OPOS_SUCCESS);
  // After Close the object answers for itself again, with Close's result kept.
  EXPECT_EQ(printer.ResultCode(), OPOS_SUCCESS);
  EXPECT_EQ(printer.ReleaseDevice(), OPOS_E_CLOSED);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_CLOSED);
}

TEST_F(OpenTest, SecondOpenIsIllegalAndLeavesTheFirst) {
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
  EXPECT_EQ(printer.Open("Printer"), OPOS_E_ILLEGAL);
  EXPECT_TRUE(printer.IsOpen());
  EXPECT_EQ(printer.DeviceName(), kPrinterProgId);
  EXPECT_EQ(printer.Close(), OPOS_SUCCESS);
  EXPECT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
}

TEST_F(OpenTest, CloseAndDestructionReleaseTheServiceObject) {
  RegisterFake();
  SetSz(DeviceKey(DeviceClass::POSPrinter, "Fake"), "", kFakeProgId);
  int (*live)() = nullptr;
  int (*closes)() = nullptr;
  {
    POSPrinter printer;
    ASSERT_EQ(printer.Open("Fake"), OPOS_SUCCESS) << printer.LastErrorText();
    live = FakeExport<int (*)()>("FakeSoLiveObjects");
    closes = FakeExport<int (*)()>("FakeSoCloseServiceCalls");
    ASSERT_NE(live, nullptr);
    ASSERT_NE(closes, nullptr);
    EXPECT_EQ(live(), 1);
    const int before = closes();
    EXPECT_EQ(printer.Close(), OPOS_SUCCESS);
    EXPECT_EQ(live(), 0);
    EXPECT_EQ(closes(), before + 1);

    ASSERT_EQ(printer.Open("Fake"), OPOS_SUCCESS);
    EXPECT_EQ(live(), 1);
  }
  // Destroyed while open: closed on the way out.
  EXPECT_EQ(live(), 0);
}

TEST_F(OpenTest, CallsFromAnotherThreadAreRefused) {
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
  int32_t claim = 0, close = 0, state = -1;
  std::thread other([&] {
    claim = printer.ClaimDevice(1000);
    close = printer.Close();
    state = printer.GetPropertyNumber(PIDX_State);
  });
  other.join();
  EXPECT_EQ(claim, OPOS_E_ILLEGAL);
  EXPECT_EQ(close, OPOS_E_ILLEGAL);
  EXPECT_EQ(state, 0);
  EXPECT_TRUE(printer.IsOpen());
  EXPECT_FALSE(printer.Claimed());
  EXPECT_EQ(printer.Close(), OPOS_SUCCESS);
}

}  // namespace
}  // namespace opos::control::testing
