// Lifecycle, configuration and common properties of both service classes,
// with the service code linked in and a counting port object.
#include <gtest/gtest.h>

#include "common/opos.h"
#include "drawer/cash_drawer.h"
#include "platform/clock.h"
#include "printer/pos_printer.h"
#include "tests/service/fake_library.h"
#include "tests/service/test_sink.h"
#include "tests/service/test_support.h"

namespace opos::test {
namespace {

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    UseProfile(TransportKind::Serial);
    FakePort::Reset();
  }
  TempRegistry reg_;
  TestSink sink_;
};

struct Released {
  void operator()(com::IDispatch* p) const { p->Release(); }
};
template <typename T>
std::unique_ptr<T, Released> Make() {
  return std::unique_ptr<T, Released>(new T());
}

TEST_F(Lifecycle, OpenResolvesLogicalNamesAndRefusesMissingKeys) {
  reg_.AddSerialDevice(false, "QMT500", "/dev/null", "QMT500");
  reg_.AddSerialDevice(false, "Front", "/dev/null", "QMT500");
  // A logical name pointing at a missing key fails even though a key named
  // like the logical name exists.
  reg_.SetSz(kPrinterClass, "Front", "Missing");
  auto p = Make<CPOSPrinter>();
  EXPECT_EQ(p->OpenService("POSPrinter", "Front", &sink_), OPOS_E_NOSERVICE);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_NOSERVICE);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_CLOSED);
  // An empty logical-name value falls back to the key of that name.
  reg_.SetSz(kPrinterClass, "Front", "");
  EXPECT_EQ(p->OpenService("POSPrinter", "Front", &sink_), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_IDLE);
  reg_.SetSz(kPrinterClass, "Till", "QMT500");
  auto q = Make<CPOSPrinter>();
  EXPECT_EQ(q->OpenService("POSPrinter", "till", &sink_), OPOS_SUCCESS);
  auto r = Make<CPOSPrinter>();
  EXPECT_EQ(r->OpenService("POSPrinter", "Nowhere", &sink_), OPOS_E_NOSERVICE);
  EXPECT_EQ(r->OpenService("POSPrinter", "..\\CashDrawer", &sink_), OPOS_E_NOSERVICE);
}

TEST_F(Lifecycle, SerialConfigurationRequiredValues) {
  const std::string key = reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
  auto p = Make<CPOSPrinter>();
  // No "DspPort" is fine.
  EXPECT_EQ(p->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  for (const char* required : {"XonXoff", "Baudrate", "Port", "DeviceName"}) {
    reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
    reg_.Delete(key, required);
    auto x = Make<CPOSPrinter>();
    EXPECT_EQ(x->OpenService("POSPrinter", "P", &sink_), OPOS_E_NOSERVICE) << required;
  }
  // A required number stored as -1 reads as absent; one stored as text of
  // four or more bytes does too.
  reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
  reg_.SetDword(key, "Stop", 0xFFFFFFFFu);
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "P", &sink_), OPOS_E_NOSERVICE);
  reg_.SetSz(key, "Stop", "1234");
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "P", &sink_), OPOS_E_NOSERVICE);
  // Codes outside the tables are accepted at open time.
  reg_.SetDword(key, "Stop", 7);
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
}

TEST_F(Lifecycle, UsbNeedsSymbolicLinkNotPort) {
  UseProfile(TransportKind::Usb);
  const std::string key = reg_.AddOtherDevice(true, false, "U", "/dev/null", "Z9");
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "U", &sink_), OPOS_SUCCESS);
  reg_.Delete(key, "SymbolicLink");
  reg_.SetSz(key, "Port", "USB001");
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "U", &sink_), OPOS_E_NOSERVICE);
}

TEST_F(Lifecycle, WritePacingIsReadOrTheDeviceIsRefused) {
  UseProfile(TransportKind::Parallel);
  const std::string key = reg_.AddOtherDevice(false, false, "L", "/dev/null", "Z9");
  struct Case {
    const char* text;
    bool valid;
    int32_t chunk, pauseMs;
  };
  for (const Case& c :
       {Case{"", true, -1, -1}, Case{"0", true, 0, 0}, Case{"256,5", true, 256, 5}, Case{"64", true, 64, 0},
        Case{"1048576,1000", true, 1 << 20, 1000}, Case{"1048577", false, 0, 0}, Case{"64,", false, 0, 0},
        Case{",5", false, 0, 0}, Case{"-1", false, 0, 0}, Case{"64,1001", false, 0, 0},
        Case{"64 ,5", false, 0, 0}, Case{"1,2,3", false, 0, 0}, Case{"99999999999", false, 0, 0}}) {
    SCOPED_TRACE(c.text);
    int32_t chunk = -1, pause = -1;
    EXPECT_EQ(ParseWritePacing(c.text, &chunk, &pause), c.valid && *c.text != 0);
    if (c.valid && *c.text != 0) {
      EXPECT_EQ(chunk, c.chunk);
      EXPECT_EQ(pause, c.pauseMs);
    }
    reg_.SetSz(key, "WritePacing", c.text);
    EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "L", &sink_),
              c.valid ? OPOS_SUCCESS : OPOS_E_NOSERVICE);
  }
}

TEST_F(Lifecycle, OpenFailsWhenTheControlObjectLacksAnEventMethod) {
  reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
  reg_.AddSerialDevice(true, "D", "/dev/null", "StandardCash");
  TestSink noError({"SODirectIO", "SOOutputComplete", "SOStatusUpdate"});
  EXPECT_EQ(Make<CPOSPrinter>()->OpenService("POSPrinter", "P", &noError), OPOS_E_NOSERVICE);
  // The drawer never asks for SOError.
  EXPECT_EQ(Make<CCashDrawer>()->OpenService("CashDrawer", "D", &noError), OPOS_SUCCESS);
}

TEST_F(Lifecycle, ClaimRules) {
  reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
  auto p = Make<CPOSPrinter>();
  ASSERT_EQ(p->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  EXPECT_EQ(p->ClaimDevice(-1), OPOS_E_ILLEGAL);
  EXPECT_EQ(FakePort::opens.load(), 0);
  EXPECT_EQ(p->ReleaseDevice(), OPOS_E_ILLEGAL);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_NOTCLAIMED);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);

  ASSERT_EQ(p->ClaimDevice(0), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);
  p->SetPropertyNumber(PIDX_DeviceEnabled, 5);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 1);
  // A second claim answers 0 and leaves ResultCode as it was.
  p->SetPropertyNumber(PIDX_PowerNotify, 1);  // illegal while enabled
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->ClaimDevice(1000), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(FakePort::opens.load(), 1);

  EXPECT_EQ(p->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_EQ(FakePort::closes.load(), 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_DeviceEnabled), 0);
  EXPECT_EQ(p->CloseService(), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_State), OPOS_S_CLOSED);
}

TEST_F(Lifecycle, ClaimTimesOutAfterTheLibraryMinimum) {
  for (TransportKind kind : {TransportKind::Serial, TransportKind::Parallel}) {
    UseProfile(kind);
    FakePort::Reset();
    FakePort::openSucceeds = false;
    if (kind == TransportKind::Serial)
      reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
    else
      reg_.AddOtherDevice(false, false, "P", "/dev/null", "QMT500");
    auto p = Make<CPOSPrinter>();
    ASSERT_EQ(p->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(p->ClaimDevice(0), OPOS_E_TIMEOUT);
    const uint32_t took = platform::TickCount() - start;
    const uint32_t minimum = kind == TransportKind::Serial ? 1000 : 3000;
    EXPECT_GE(took, minimum);
    EXPECT_LT(took, minimum + 600);
    EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
    reg_.Store().DeleteTree(reg::Root::LocalMachine, std::string(kPrinterClass) + "\\P");
  }
}

TEST_F(Lifecycle, StartMonitorFailureClosesThePort) {
  reg_.AddSerialDevice(false, "P", "/dev/null", "QMT500");
  reg_.AddSerialDevice(true, "D", "/dev/null", "StandardCash");
  FakePort::startMonitorResult = OPOS_E_ILLEGAL;
  auto p = Make<CPOSPrinter>();
  ASSERT_EQ(p->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  EXPECT_EQ(p->ClaimDevice(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCodeExtended), 10007);
  EXPECT_EQ(FakePort::closes.load(), 1);
  FakePort::startMonitorResult = OPOS_E_FAILURE;
  EXPECT_EQ(p->ClaimDevice(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCodeExtended), OPOS_E_FAILURE);
  auto d = Make<CCashDrawer>();
  ASSERT_EQ(d->OpenService("CashDrawer", "D", &sink_), OPOS_SUCCESS);
  EXPECT_EQ(d->ClaimDevice(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(d->GetPropertyNumber(PIDX_ResultCodeExtended), 0);
}

TEST_F(Lifecycle, CommonPropertiesPerLibraryAndClass) {
  struct Case {
    TransportKind kind;
    int32_t printer, drawer;
    const char* pid;
    const char* did;
  };
  for (const Case& c :
       {Case{TransportKind::Serial, 1004001, 1003001, "KELVORA.RecPrinter.SO", "KELVORA.CashDrawer.SO"},
        Case{TransportKind::Parallel, 1003000, 1003000, "KELVORA.RecPrinter.SOP", "KELVORA.CashDrawer.SOP"},
        Case{TransportKind::Usb, 1003000, 1003000, "KELVORA.RecPrinter.SOU", "KELVORA.CashDrawer.SOU"}}) {
    UseProfile(c.kind);
    auto p = Make<CPOSPrinter>();
    auto d = Make<CCashDrawer>();
    EXPECT_EQ(p->GetPropertyNumber(PIDX_ServiceObjectVersion), c.printer);
    EXPECT_EQ(d->GetPropertyNumber(PIDX_ServiceObjectVersion), c.drawer);
    EXPECT_EQ(p->GetPropertyString(PIDX_DeviceName), c.pid);
    EXPECT_EQ(d->GetPropertyString(PIDX_DeviceName), c.did);
  }
  UseProfile(TransportKind::Serial);
  // The device key names another model; DeviceName still reads as the ProgID.
  reg_.AddSerialDevice(false, "P", "/dev/null", "Z10PLUS");
  reg_.AddSerialDevice(true, "D", "/dev/null", "StandardCash");
  auto p = Make<CPOSPrinter>();
  auto d = Make<CCashDrawer>();
  ASSERT_EQ(p->OpenService("POSPrinter", "P", &sink_), OPOS_SUCCESS);
  ASSERT_EQ(d->OpenService("CashDrawer", "D", &sink_), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyString(PIDX_DeviceName), "KELVORA.RecPrinter.SO");
  EXPECT_EQ(p->GetPropertyString(PIDX_DeviceDescription), "OPOS POSPrinter");
  EXPECT_EQ(d->GetPropertyString(PIDX_ServiceObjectDescription), "OPOS Cash Drawer Service Object");
  EXPECT_EQ(p->GetPropertyString(4242), "");
  EXPECT_EQ(p->GetPropertyNumber(PIDX_CapPowerReporting), OPOS_PR_STANDARD);
  EXPECT_EQ(d->GetPropertyNumber(PIDX_CapPowerReporting), OPOS_PR_NONE);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_PowerState), OPOS_PS_UNKNOWN);
  EXPECT_EQ(p->GetPropertyNumber(999), 0);

  // SetPropertyString and unsettable indexes change nothing, ResultCode included.
  p->ClaimDevice(-1);
  p->SetPropertyString(PIDX_CheckHealthText, "x");
  p->SetPropertyNumber(PIDX_Claimed, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_Claimed), 0);
  // COFreezeEvents leaves ResultCode alone; FreezeEvents sets it to 0.
  EXPECT_EQ(p->COFreezeEvents(1), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  p->SetPropertyNumber(PIDX_FreezeEvents, 1);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
  EXPECT_EQ(p->GetPropertyNumber(PIDX_FreezeEvents), 1);

  // PowerNotify: the drawer has no power reporting.
  d->SetPropertyNumber(PIDX_PowerNotify, 1);
  EXPECT_EQ(d->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
  d->SetPropertyNumber(PIDX_PowerNotify, 0);
  EXPECT_EQ(d->GetPropertyNumber(PIDX_ResultCode), OPOS_SUCCESS);
}

TEST_F(Lifecycle, DispatchMembersInOrderAndBadCalls) {
  auto d = Make<CCashDrawer>();
  const char* order[] = {"COFreezeEvents",
                         "GetPropertyNumber",
                         "SetPropertyNumber",
                         "GetPropertyString",
                         "SetPropertyString",
                         "OpenService",
                         "CheckHealth",
                         "ClaimDevice",
                         "CloseService",
                         "DirectIO",
                         "ReleaseDevice",
                         "OpenDrawer",
                         "WaitForDrawerClose",
                         "Claim",
                         "Release",
                         "Close"};
  for (int i = 0; i < 16; ++i) {
    int32_t id = 0;
    ASSERT_EQ(d->GetIDsOfNames(order[i], &id), com::S_OK) << order[i];
    EXPECT_EQ(id, i + 1) << order[i];
  }
  int32_t id = 0;
  EXPECT_EQ(d->GetIDsOfNames("PrintNormal", &id), com::DISP_E_UNKNOWNNAME);
  ASSERT_EQ(d->GetIDsOfNames("claimdevice", &id), com::S_OK);
  std::vector<com::Variant> none;
  com::Variant result;
  EXPECT_EQ(d->Invoke(id, none, &result), com::DISP_E_BADPARAMCOUNT);
  std::vector<com::Variant> text{com::Variant::String("1000")};
  EXPECT_EQ(d->Invoke(id, text, &result), com::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(d->Invoke(99, none, &result), com::DISP_E_MEMBERNOTFOUND);
  std::vector<com::Variant> minusOne{com::Variant::Long(-1)};
  EXPECT_EQ(d->Invoke(id, minusOne, &result), com::S_OK);
  EXPECT_EQ(result.lVal, OPOS_E_ILLEGAL);

  auto p = Make<CPOSPrinter>();
  ASSERT_EQ(p->GetIDsOfNames("PrintBarCode", &id), com::S_OK);
  EXPECT_EQ(id, 18);
  ASSERT_EQ(p->GetIDsOfNames("Close", &id), com::S_OK);
  EXPECT_EQ(id, 30);
}

}  // namespace
}  // namespace opos::test
