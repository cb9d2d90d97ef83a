// Calls through the Control Object: every member reachable by name on the real
// library, calls that fit no member, a Service Object that cannot take a call,
// and by-reference arguments and event answers passing both ways.
#include <stdexcept>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "tests/control/control_test_support.h"

namespace opos::control::testing {
namespace {

using com::Variant;
using com::VT;

// Arguments that fit the member: zeros and empty strings.
struct Args {
  explicit Args(const com::Member& m) : longs(m.params.size()), strings(m.params.size()) {
    for (size_t k = 0; k < m.params.size(); ++k) {
      switch (m.params[k]) {
        case VT::LongRef:
          list.push_back(Variant::LongRef(&longs[k]));
          break;
        case VT::StringRef:
          list.push_back(Variant::StringRef(&strings[k]));
          break;
        case VT::String:
          list.push_back(Variant::String(""));
          break;
        default:
          list.push_back(Variant::Long(0));
          break;
      }
    }
  }
  std::vector<int32_t> longs;
  std::vector<std::string> strings;
  std::vector<Variant> list;
};

// Invokes every member but the closing ones, then those; each call must reach
// the Service Object and come back with a result of the member's kind.
void InvokeEveryMember(ControlObject& co) {
  const auto& members = ControlMembers(co.Class()).Members();
  std::vector<const com::Member*> order;
  for (const auto& m : members) {
    if (std::string(m.name) != "Close" && std::string(m.name) != "CloseService") order.push_back(&m);
  }
  for (const auto& m : members) {
    if (std::string(m.name) == "Close" || std::string(m.name) == "CloseService") order.push_back(&m);
  }
  for (const com::Member* m : order) {
    SCOPED_TRACE(m->name);
    if (!co.IsOpen()) {
      ASSERT_EQ(co.Open(co.OpenedName()), OPOS_SUCCESS);
    }
    Args args(*m);
    Variant r;
    ASSERT_EQ(co.Invoke(m->name, args.list, &r), com::S_OK) << co.LastErrorText();
    if (!m->hasResult)
      EXPECT_EQ(r.vt, VT::Empty);
    else if (m->resultIsString)
      EXPECT_EQ(r.vt, VT::String);
    else
      EXPECT_EQ(r.vt, VT::Long);
  }
  EXPECT_FALSE(co.IsOpen());
}

class MembersTest : public ControlEnvironment {};

TEST_F(MembersTest, EveryPrinterMemberReachesTheServiceObject) {
  SetUpRealDevices();
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS) << printer.LastErrorText();
  InvokeEveryMember(printer);
}

TEST_F(MembersTest, EveryDrawerMemberReachesTheServiceObject) {
  SetUpRealDevices();
  CashDrawer drawer;
  ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS) << drawer.LastErrorText();
  InvokeEveryMember(drawer);
}

TEST_F(MembersTest, TypedCallsCarryTheServiceObjectsResults) {
  SetUpRealDevices();
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
  EXPECT_EQ(printer.ReleaseDevice(), OPOS_E_ILLEGAL);  // not claimed
  EXPECT_EQ(printer.ResultCode(), OPOS_E_ILLEGAL);
  printer.SetDeviceEnabled(true);
  EXPECT_EQ(printer.ResultCode(), OPOS_E_NOTCLAIMED);
  ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
  EXPECT_TRUE(printer.Claimed());
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "x\n"), OPOS_E_DISABLED);
  printer.SetDeviceEnabled(true);
  EXPECT_TRUE(printer.DeviceEnabled());
  EXPECT_EQ(printer.PrintNormal(PTR_S_RECEIPT, "Hello\n"), OPOS_SUCCESS);
  EXPECT_TRUE(PrinterReceives("Hello\n"));
  EXPECT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_FALSE(printer.Claimed());
}

TEST_F(MembersTest, CallsThatFitNoMemberAreRefused) {
  SetUpRealDevices();
  POSPrinter printer;
  ASSERT_EQ(printer.Open("Printer"), OPOS_SUCCESS);
  std::vector<Variant> none;
  std::vector<Variant> two{Variant::Long(2), Variant::Long(3)};
  std::vector<Variant> text{Variant::Long(2), Variant::String("x")};
  std::string scell;
  std::vector<Variant> byValue{Variant::Long(1), Variant::Long(2), Variant::StringRef(&scell)};
  Variant r;
  EXPECT_EQ(printer.Invoke("NoSuchMember", none, &r), com::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(printer.Invoke("OpenService", none, &r), com::DISP_E_UNKNOWNNAME);
  EXPECT_EQ(printer.Invoke("OpenDrawer", none, &r), com::DISP_E_UNKNOWNNAME);  // a drawer member
  EXPECT_EQ(printer.Invoke("PrintNormal", none, &r), com::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(printer.Invoke("PrintNormal", two, &r), com::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(printer.Invoke("DirectIO", byValue, &r), com::DISP_E_TYPEMISMATCH);
  // Names compare without regard to case.
  EXPECT_EQ(printer.Invoke("printnormal", text, &r), com::S_OK);
  EXPECT_EQ(r.vt, VT::Long);

  CashDrawer drawer;
  ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS);
  EXPECT_EQ(drawer.Invoke("PrintNormal", text, &r), com::DISP_E_UNKNOWNNAME);
}

class FakeServiceTest : public ControlEnvironment {
 protected:
  void SetUp() override {
    ControlEnvironment::SetUp();
    RegisterFake();
    SetSz(DeviceKey(DeviceClass::POSPrinter, "Fake"), "", kFakeProgId);
    ASSERT_EQ(printer_.Open("Fake"), OPOS_SUCCESS) << printer_.LastErrorText();
  }
  void TearDown() override {
    printer_.Close();
    ControlEnvironment::TearDown();
  }
  POSPrinter printer_;
};

TEST_F(FakeServiceTest, CallTheServiceObjectCannotTakeGivesNoService) {
  // The member exists but the call fails.
  EXPECT_EQ(printer_.ClaimDevice(1000), OPOS_E_NOSERVICE);
  EXPECT_EQ(printer_.ResultCode(), OPOS_E_NOSERVICE);
  EXPECT_EQ(printer_.ResultCodeExtended(), 0);
  EXPECT_FALSE(printer_.LastErrorText().empty());
  // A member the Service Object lacks.
  EXPECT_EQ(printer_.PrintNormal(2, "x"), OPOS_E_NOSERVICE);
  std::vector<Variant> args{Variant::Long(2), Variant::String("x")};
  EXPECT_EQ(printer_.Invoke("PrintNormal", args, nullptr), com::DISP_E_UNKNOWNNAME);
  // A result of the wrong kind.
  EXPECT_EQ(printer_.CheckHealth(1), OPOS_E_NOSERVICE);
  // Reading properties goes on to the Service Object, without disturbing ResultCode.
  EXPECT_EQ(printer_.GetPropertyString(5), "fake 5");
  EXPECT_EQ(printer_.ResultCode(), OPOS_E_NOSERVICE);
  // The next call it takes shows its own codes again.
  int32_t data = 0;
  std::string text;
  EXPECT_EQ(printer_.DirectIO(99, data, text), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_.ResultCode(), OPOS_E_ILLEGAL);
  EXPECT_EQ(printer_.ResultCodeExtended(), 4711);
}

TEST_F(FakeServiceTest, ByReferenceArgumentsPassBothWays) {
  std::vector<std::tuple<int32_t, int32_t, std::string>> seen;
  printer_.OnDirectIO([&](int32_t number, int32_t& data, std::string& text) {
    seen.emplace_back(number, data, text);
    data *= 10;
    text = "xyz";
  });
  int32_t data = 5;
  std::string text = std::string("a\0b", 3);
  ASSERT_EQ(printer_.DirectIO(1, data, text), OPOS_SUCCESS);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_tuple(7, 5, std::string("a\0b", 3)));
  // The handler's changes reached the Service Object, whose own came back.
  EXPECT_EQ(data, 51);
  EXPECT_EQ(text, "xyz+");

  // The same through the generic call.
  int32_t cell = 1;
  std::string scell = "q";
  std::vector<Variant> args{Variant::Long(1), Variant::LongRef(&cell), Variant::StringRef(&scell)};
  Variant r;
  ASSERT_EQ(printer_.Invoke("DirectIO", args, &r), com::S_OK);
  EXPECT_EQ(r.lVal, 0);
  EXPECT_EQ(cell, 11);
  EXPECT_EQ(scell, "xyz+");
}

TEST_F(FakeServiceTest, ErrorResponseIsTheHandlersAnswer) {
  int32_t data = 0;
  std::string text;
  // Without a handler the proposed response stands.
  ASSERT_EQ(printer_.DirectIO(2, data, text), OPOS_SUCCESS);
  EXPECT_EQ(data, OPOS_ER_RETRY);

  std::vector<int32_t> proposed;
  printer_.OnError([&](int32_t rc, int32_t rce, int32_t locus, int32_t& response) {
    EXPECT_EQ(rc, OPOS_E_EXTENDED);
    EXPECT_EQ(rce, 203);
    EXPECT_EQ(locus, OPOS_EL_OUTPUT);
    proposed.push_back(response);
    response = OPOS_ER_CLEAR;
  });
  ASSERT_EQ(printer_.DirectIO(2, data, text), OPOS_SUCCESS);
  EXPECT_EQ(proposed, std::vector<int32_t>{OPOS_ER_RETRY});
  EXPECT_EQ(data, OPOS_ER_CLEAR);
}

TEST_F(FakeServiceTest, EventsReachTheirHandlersInOrder) {
  std::vector<std::string> seen;
  printer_.OnStatusUpdate([&](int32_t d) { seen.push_back("status " + std::to_string(d)); });
  printer_.OnOutputComplete([&](int32_t id) { seen.push_back("complete " + std::to_string(id)); });
  int32_t data = 42;
  std::string text = "abc";
  ASSERT_EQ(printer_.DirectIO(3, data, text), OPOS_SUCCESS);
  EXPECT_EQ(seen, (std::vector<std::string>{"status 42", "complete 3"}));
}

TEST_F(FakeServiceTest, HandlerMayNotCloseItsOwnDevice) {
  int32_t closeRc = -1, releaseRc = -1;
  printer_.OnDirectIO([&](int32_t, int32_t&, std::string&) {
    closeRc = printer_.Close();
    releaseRc = printer_.ReleaseDevice();
  });
  int32_t data = 0;
  std::string text;
  ASSERT_EQ(printer_.DirectIO(1, data, text), OPOS_SUCCESS);
  EXPECT_EQ(closeRc, OPOS_E_ILLEGAL);
  EXPECT_EQ(releaseRc, OPOS_E_ILLEGAL);
  EXPECT_TRUE(printer_.IsOpen());
  EXPECT_EQ(printer_.Close(), OPOS_SUCCESS);
}

TEST_F(FakeServiceTest, ThrowingHandlerDoesNotUnwindThroughTheServiceObject) {
  int calls = 0;
  printer_.OnStatusUpdate([&](int32_t) {
    ++calls;
    throw std::runtime_error("application fault");
  });
  std::vector<int32_t> completed;
  printer_.OnOutputComplete([&](int32_t id) { completed.push_back(id); });
  int32_t data = 1;
  std::string text = "ab";
  EXPECT_EQ(printer_.DirectIO(3, data, text), OPOS_SUCCESS);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(completed, std::vector<int32_t>{2});
}

}  // namespace
}  // namespace opos::control::testing
