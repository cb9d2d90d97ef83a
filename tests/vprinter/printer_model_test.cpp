#include <gtest/gtest.h>

#include "tests/vprinter/test_bytes.h"
#include "tools/vprinter/printer_model.h"

using namespace vprinter;
using namespace vprinter_test;
using namespace std::chrono_literals;

namespace {

const Bytes kAsbOn = Hex("1D 61 FF");
const Bytes kProcessId = Hex("1D 28 48 06 00 30 30 46 46 46 46");
const Bytes kProcessIdReply = Hex("37 22 46 46 46 46 00");
const Bytes kKickPin2 = Hex("1B 70 30 64 C8");  // 200 ms on-time

// A printer on a hand-driven clock.
struct Rig {
  explicit Rig(PrinterConfig c = {})
      : config(c), t0(PrinterModel::Clock::time_point{} + 1h), now(t0), m(config, t0) {}
  void Send(const Bytes& b) { m.Receive(b, now); }
  void At(std::chrono::milliseconds sinceStart) {
    now = t0 + sinceStart;
    m.Advance(now);
  }
  Bytes Replies() { return m.TakeReplies(); }

  PrinterConfig config;
  PrinterModel::TimePoint t0;
  PrinterModel::TimePoint now;
  PrinterModel m;
};

}  // namespace

TEST(AutomaticStatusBack, ReportsOnceWhenEnabledAndOnceForEveryChange) {
  Rig r;
  r.m.SetCoverOpen(true, r.now);
  r.m.SetCoverOpen(false, r.now);
  EXPECT_TRUE(r.Replies().empty()) << "no report before GS a";

  r.Send(kAsbOn);
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));

  struct Step {
    const char* what;
    void (PrinterModel::*set)(bool, PrinterModel::TimePoint);
    bool value;
    Bytes expected;
  };
  const Step steps[] = {
      {"cover open", &PrinterModel::SetCoverOpen, true, Hex("3C 00 00 00")},
      {"cover open again", &PrinterModel::SetCoverOpen, true, {}},
      {"cover close", &PrinterModel::SetCoverOpen, false, Hex("14 00 00 00")},
      {"paper end", &PrinterModel::SetPaperEnd, true, Hex("1C 00 0C 00")},
      {"paper ok", &PrinterModel::SetPaperEnd, false, Hex("14 00 00 00")},
      {"offline", &PrinterModel::SetOnline, false, Hex("1C 00 00 00")},
      {"online", &PrinterModel::SetOnline, true, Hex("14 00 00 00")},
  };
  for (const Step& s : steps) {
    (r.m.*s.set)(s.value, r.now);
    EXPECT_EQ(r.Replies(), s.expected) << s.what;
  }
  r.m.OpenDrawer(r.now);
  EXPECT_EQ(r.Replies(), Hex("10 00 00 00"));
  r.m.CloseDrawer(r.now);
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));
  EXPECT_EQ(r.m.Status().asbReports, 9u);

  r.Send(Hex("1D 61 00"));
  r.m.SetCoverOpen(true, r.now);
  EXPECT_TRUE(r.Replies().empty()) << "GS a 0 turns reports off";
}

TEST(AutomaticStatusBack, MaskSelectsWhichChangesAreReported) {
  Rig r;
  r.Send(Hex("1D 61 01"));  // drawer sensor only
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));
  r.m.SetCoverOpen(true, r.now);
  r.m.SetPaperEnd(true, r.now);
  EXPECT_TRUE(r.Replies().empty());
  r.m.OpenDrawer(r.now);
  EXPECT_EQ(r.Replies(), Hex("38 00 0C 00"));
}

TEST(AutomaticStatusBack, SensorPolarityIsConfigurable) {
  PrinterConfig c;
  c.sensorHighWhenOpen = true;
  Rig r(c);
  r.Send(kAsbOn);
  EXPECT_EQ(r.Replies(), Hex("10 00 00 00"));
  r.m.OpenDrawer(r.now);
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));
}

TEST(RealTimeStatus, AnswersEveryStateAtOnceAndIgnoresUnknownRequests) {
  Rig r;
  const Bytes all = Hex("10 04 01 10 04 02 10 04 03 10 04 04");
  r.Send(all);
  EXPECT_EQ(r.Replies(), Hex("16 12 12 12"));
  r.m.OpenDrawer(r.now);
  r.Send(Hex("10 04 01"));
  EXPECT_EQ(r.Replies(), Hex("12"));
  r.m.CloseDrawer(r.now);
  r.m.SetCoverOpen(true, r.now);
  r.Send(all);
  EXPECT_EQ(r.Replies(), Hex("1E 16 12 12"));
  r.m.SetCoverOpen(false, r.now);
  r.m.SetPaperEnd(true, r.now);
  r.Send(all);
  EXPECT_EQ(r.Replies(), Hex("1E 32 12 72"));
  r.m.SetPaperEnd(false, r.now);
  r.m.SetOnline(false, r.now);
  r.Send(all);
  EXPECT_EQ(r.Replies(), Hex("1E 12 12 12"));
  r.Send(Hex("10 04 05 10 04 00"));
  EXPECT_TRUE(r.Replies().empty());
  EXPECT_EQ(r.m.Status().realtimeReplies, 17u);
}

TEST(ProcessId, ImmediateAtDefaultSpeedAndInOrderWithRealTimeReplies) {
  Rig r;
  r.Send(Cat({Text("hello\n"), kProcessId, Hex("10 04 01")}));
  EXPECT_EQ(r.Replies(), Cat({kProcessIdReply, Hex("16")}));
  EXPECT_EQ(r.m.Status().processIdReplies, 1u);
}

TEST(ProcessId, SentOnceThePrecedingBytesArePrinted) {
  PrinterConfig c;
  c.bytesPerSecond = 100;
  Rig r(c);
  r.Send(Cat({Repeat('x', 189), kProcessId, Hex("10 04 01")}));  // 200 bytes up to the request
  EXPECT_EQ(r.Replies(), Hex("16")) << "real-time status does not wait for printing";
  ASSERT_TRUE(r.m.NextDeadline().has_value());
  EXPECT_EQ(*r.m.NextDeadline(), r.t0 + 2000ms);
  r.At(1999ms);
  EXPECT_TRUE(r.Replies().empty());
  EXPECT_GT(r.m.Status().unprintedWork, 0u);
  r.At(2000ms);
  EXPECT_EQ(r.Replies(), kProcessIdReply);
  EXPECT_EQ(r.m.Status().unprintedWork, 3u);
  EXPECT_EQ(*r.m.NextDeadline(), r.t0 + 2030ms);
}

TEST(ProcessId, PrintingPausesWhileTheCoverIsOpenAndPowerLossDropsIt) {
  PrinterConfig c;
  c.bytesPerSecond = 100;
  Rig r(c);
  r.Send(Cat({Repeat('x', 189), kProcessId}));
  r.At(1000ms);
  r.m.SetCoverOpen(true, r.now);
  EXPECT_FALSE(r.m.NextDeadline().has_value());
  r.At(5000ms);
  r.m.SetCoverOpen(false, r.now);
  r.At(5999ms);
  EXPECT_TRUE(r.Replies().empty());
  r.At(6000ms);
  EXPECT_EQ(r.Replies(), kProcessIdReply);

  r.Send(Cat({Repeat('x', 189), kProcessId}));
  r.At(7000ms);
  r.m.SetPower(false, r.now);
  r.m.SetPower(true, r.now);
  r.At(100000ms);
  EXPECT_TRUE(r.Replies().empty());
  EXPECT_EQ(r.m.Status().unprintedWork, 0u);
}

TEST(ProcessId, LinesPerSecondPacesLineFeedsOnly) {
  PrinterConfig c;
  c.linesPerSecond = 2;
  Rig r(c);
  r.Send(Cat({Text("a\nb\n"), Hex("1B 64 02"), Repeat('y', 500), kProcessId}));  // four lines
  r.At(1999ms);
  EXPECT_TRUE(r.Replies().empty());
  r.At(2000ms);
  EXPECT_EQ(r.Replies(), kProcessIdReply);
}

TEST(Drawer, KickOpensAfterTheOnTimeOnEitherPinForm) {
  for (const Bytes& kick : {kKickPin2, Hex("1B 70 00 64 C8"), Hex("1B 70 31 64 C8"), Hex("1B 70 01 64 C8")}) {
    Rig r;
    r.Send(kAsbOn);
    r.Replies();
    r.Send(kick);
    EXPECT_EQ(r.m.Status().drawerKicks, 1u);
    EXPECT_EQ(*r.m.NextDeadline(), r.t0 + 200ms);
    r.At(199ms);
    EXPECT_FALSE(r.m.Status().drawerOpen);
    r.At(200ms);
    EXPECT_TRUE(r.m.Status().drawerOpen);
    EXPECT_FALSE(r.m.Status().pin3High);
    EXPECT_EQ(r.Replies(), Hex("10 00 00 00"));
    r.Send(kick);  // already open: no further report
    r.At(1000ms);
    EXPECT_TRUE(r.Replies().empty());
    EXPECT_EQ(r.m.Status().drawerKicks, 2u);
  }
}

TEST(Drawer, OnlyWiredPinsOpenItAndAutoCloseReports) {
  PrinterConfig c;
  c.drawerOnPin2 = false;
  c.drawerAutoClose = 3000ms;
  Rig r(c);
  r.Send(kAsbOn);
  r.Replies();
  r.Send(kKickPin2);
  r.At(500ms);
  EXPECT_FALSE(r.m.Status().drawerOpen);
  EXPECT_EQ(r.m.Status().drawerKicks, 1u);
  r.Send(Hex("1B 70 31 32 32"));  // pin 5, 100 ms
  r.At(600ms);
  EXPECT_TRUE(r.m.Status().drawerOpen);
  EXPECT_EQ(r.Replies(), Hex("10 00 00 00"));
  EXPECT_EQ(*r.m.NextDeadline(), r.t0 + 3600ms);
  r.At(3599ms);
  EXPECT_TRUE(r.m.Status().drawerOpen);
  r.At(3600ms);
  EXPECT_FALSE(r.m.Status().drawerOpen);
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));
  EXPECT_FALSE(r.m.NextDeadline().has_value());
}

TEST(Drawer, KickWaitsWhileOfflineButRealTimePulseDoesNot) {
  Rig r;
  r.m.SetOnline(false, r.now);
  r.Send(kKickPin2);
  r.At(1000ms);
  EXPECT_EQ(r.m.Status().drawerKicks, 0u);
  r.m.SetOnline(true, r.now);
  EXPECT_EQ(r.m.Status().drawerKicks, 1u);
  r.At(1200ms);
  EXPECT_TRUE(r.m.Status().drawerOpen);
  r.m.CloseDrawer(r.now);
  r.m.SetOnline(false, r.now);
  r.Send(Hex("10 14 01 00 01"));  // DLE DC4: 100 ms pulse on pin 2
  r.At(1300ms);
  EXPECT_TRUE(r.m.Status().drawerOpen);
}

TEST(Power, SwitchedOffPrinterDiscardsInputAndAnswersNothing) {
  PrinterConfig c;
  Rig r(c);
  r.Send(kAsbOn);
  r.Replies();
  r.Send(Hex("1D 28 48 06"));  // half a command when the power goes
  r.m.SetPower(false, r.now);
  r.Send(Hex("10 04 01 41 42"));
  r.m.SetCoverOpen(true, r.now);
  r.m.OpenDrawer(r.now);
  EXPECT_TRUE(r.Replies().empty());
  EXPECT_EQ(r.m.Status().bytesDiscarded, 5u);
  EXPECT_EQ(r.m.Capture(), Cat({kAsbOn, Hex("1D 28 48 06")}));

  r.m.SetPower(true, r.now);
  EXPECT_TRUE(r.Replies().empty()) << "ASB is off after power-on by default";
  r.Send(Text("ABC"));
  ASSERT_FALSE(r.m.Commands().empty());
  EXPECT_EQ(r.m.Commands().back().kind, CommandKind::Text);
  EXPECT_EQ(r.m.Commands().back().data, Text("ABC"));
}

TEST(Power, MemorySwitchCanEnableStatusBackAtPowerOn) {
  PrinterConfig c;
  c.asbMaskAtPowerOn = 0xFF;
  Rig r(c);
  r.m.SetPower(false, r.now);
  r.m.SetPower(true, r.now);
  EXPECT_EQ(r.Replies(), Hex("14 00 00 00"));
  r.m.SetPaperEnd(true, r.now);
  EXPECT_EQ(r.Replies(), Hex("1C 00 0C 00"));
}

TEST(Recording, TextJoinsAcrossChunksAndEveryStoreIsBounded) {
  {
    Rig r;
    r.Send(Text("ab"));
    r.Send(Text("cd"));
    ASSERT_EQ(r.m.Commands().size(), 1u);
    EXPECT_EQ(r.m.Commands()[0].data, Text("abcd"));
    r.m.ClearCapture();
    EXPECT_TRUE(r.m.Capture().empty());
    EXPECT_TRUE(r.m.Commands().empty());
  }
  PrinterConfig c;
  c.captureLimit = 10;
  c.commandLimit = 3;
  c.commandPayloadBudget = 16;
  c.replyLimit = 8;
  Rig r(c);
  r.Send(Hex("0A 0A 0A 0A 0A"));
  r.m.ClearCapture();
  r.Send(Cat({Hex("1D 6B 49 14"), Repeat('7', 20), Hex("0A 0A 0A")}));
  EXPECT_EQ(r.m.Capture().size(), 10u);
  EXPECT_EQ(r.m.Status().captureDropped, 17u);
  EXPECT_EQ(r.m.Commands().size(), 3u);
  EXPECT_EQ(r.m.Status().commandsDropped, 1u);
  EXPECT_TRUE(r.m.Commands()[0].truncated);
  EXPECT_TRUE(r.m.Commands()[0].data.empty());
  r.Send(Cat({kAsbOn, kAsbOn, kAsbOn}));
  EXPECT_EQ(r.Replies().size(), 8u);
  EXPECT_EQ(r.m.Status().repliesDropped, 4u);
}
