#include <gtest/gtest.h>

#include "tests/vprinter/test_bytes.h"
#include "tools/vprinter/printer_model.h"

using namespace vprinter;
using namespace vprinter_test;
using namespace std::chrono_literals;

namespace {

const Bytes kAsbOn = hex("1D 61 FF");
const Bytes kProcessId = hex("1D 28 48 06 00 30 30 46 46 46 46");
const Bytes kProcessIdReply = hex("37 22 46 46 46 46 00");
const Bytes kKickPin2 = hex("1B 70 30 64 C8");  // 200 ms on-time

// A printer on a hand-driven clock.
struct Rig {
  explicit Rig(PrinterConfig c = {})
      : config(c), t0(PrinterModel::Clock::time_point{} + 1h), now(t0), m(config, t0) {}
  void send(const Bytes& b) { m.receive(b, now); }
  void at(std::chrono::milliseconds since_start) {
    now = t0 + since_start;
    m.advance(now);
  }
  Bytes replies() { return m.take_replies(); }

  PrinterConfig config;
  PrinterModel::TimePoint t0;
  PrinterModel::TimePoint now;
  PrinterModel m;
};

}  // namespace

TEST(AutomaticStatusBack, ReportsOnceWhenEnabledAndOnceForEveryChange) {
  Rig r;
  r.m.set_cover_open(true, r.now);
  r.m.set_cover_open(false, r.now);
  EXPECT_TRUE(r.replies().empty()) << "no report before GS a";

  r.send(kAsbOn);
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));

  struct Step {
    const char* what;
    void (PrinterModel::*set)(bool, PrinterModel::TimePoint);
    bool value;
    Bytes expected;
  };
  const Step steps[] = {
      {"cover open", &PrinterModel::set_cover_open, true, hex("3C 00 00 00")},
      {"cover open again", &PrinterModel::set_cover_open, true, {}},
      {"cover close", &PrinterModel::set_cover_open, false, hex("14 00 00 00")},
      {"paper end", &PrinterModel::set_paper_end, true, hex("1C 00 0C 00")},
      {"paper ok", &PrinterModel::set_paper_end, false, hex("14 00 00 00")},
      {"offline", &PrinterModel::set_online, false, hex("1C 00 00 00")},
      {"online", &PrinterModel::set_online, true, hex("14 00 00 00")},
  };
  for (const Step& s : steps) {
    (r.m.*s.set)(s.value, r.now);
    EXPECT_EQ(r.replies(), s.expected) << s.what;
  }
  r.m.open_drawer(r.now);
  EXPECT_EQ(r.replies(), hex("10 00 00 00"));
  r.m.close_drawer(r.now);
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));
  EXPECT_EQ(r.m.status().asb_reports, 9u);

  r.send(hex("1D 61 00"));
  r.m.set_cover_open(true, r.now);
  EXPECT_TRUE(r.replies().empty()) << "GS a 0 turns reports off";
}

TEST(AutomaticStatusBack, MaskSelectsWhichChangesAreReported) {
  Rig r;
  r.send(hex("1D 61 01"));  // drawer sensor only
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));
  r.m.set_cover_open(true, r.now);
  r.m.set_paper_end(true, r.now);
  EXPECT_TRUE(r.replies().empty());
  r.m.open_drawer(r.now);
  EXPECT_EQ(r.replies(), hex("38 00 0C 00"));
}

TEST(AutomaticStatusBack, SensorPolarityIsConfigurable) {
  PrinterConfig c;
  c.sensor_high_when_open = true;
  Rig r(c);
  r.send(kAsbOn);
  EXPECT_EQ(r.replies(), hex("10 00 00 00"));
  r.m.open_drawer(r.now);
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));
}

TEST(RealTimeStatus, AnswersEveryStateAtOnceAndIgnoresUnknownRequests) {
  Rig r;
  const Bytes all = hex("10 04 01 10 04 02 10 04 03 10 04 04");
  r.send(all);
  EXPECT_EQ(r.replies(), hex("16 12 12 12"));
  r.m.open_drawer(r.now);
  r.send(hex("10 04 01"));
  EXPECT_EQ(r.replies(), hex("12"));
  r.m.close_drawer(r.now);
  r.m.set_cover_open(true, r.now);
  r.send(all);
  EXPECT_EQ(r.replies(), hex("1E 16 12 12"));
  r.m.set_cover_open(false, r.now);
  r.m.set_paper_end(true, r.now);
  r.send(all);
  EXPECT_EQ(r.replies(), hex("1E 32 12 72"));
  r.m.set_paper_end(false, r.now);
  r.m.set_online(false, r.now);
  r.send(all);
  EXPECT_EQ(r.replies(), hex("1E 12 12 12"));
  r.send(hex("10 04 05 10 04 00"));
  EXPECT_TRUE(r.replies().empty());
  EXPECT_EQ(r.m.status().realtime_replies, 17u);
}

TEST(ProcessId, ImmediateAtDefaultSpeedAndInOrderWithRealTimeReplies) {
  Rig r;
  r.send(cat({text("hello\n"), kProcessId, hex("10 04 01")}));
  EXPECT_EQ(r.replies(), cat({kProcessIdReply, hex("16")}));
  EXPECT_EQ(r.m.status().process_id_replies, 1u);
}

TEST(ProcessId, SentOnceThePrecedingBytesArePrinted) {
  PrinterConfig c;
  c.bytes_per_second = 100;
  Rig r(c);
  r.send(cat({repeat('x', 189), kProcessId, hex("10 04 01")}));  // 200 bytes up to the request
  EXPECT_EQ(r.replies(), hex("16")) << "real-time status does not wait for printing";
  ASSERT_TRUE(r.m.next_deadline().has_value());
  EXPECT_EQ(*r.m.next_deadline(), r.t0 + 2000ms);
  r.at(1999ms);
  EXPECT_TRUE(r.replies().empty());
  EXPECT_GT(r.m.status().unprinted_work, 0u);
  r.at(2000ms);
  EXPECT_EQ(r.replies(), kProcessIdReply);
  EXPECT_EQ(r.m.status().unprinted_work, 3u);
  EXPECT_EQ(*r.m.next_deadline(), r.t0 + 2030ms);
}

TEST(ProcessId, PrintingPausesWhileTheCoverIsOpenAndPowerLossDropsIt) {
  PrinterConfig c;
  c.bytes_per_second = 100;
  Rig r(c);
  r.send(cat({repeat('x', 189), kProcessId}));
  r.at(1000ms);
  r.m.set_cover_open(true, r.now);
  EXPECT_FALSE(r.m.next_deadline().has_value());
  r.at(5000ms);
  r.m.set_cover_open(false, r.now);
  r.at(5999ms);
  EXPECT_TRUE(r.replies().empty());
  r.at(6000ms);
  EXPECT_EQ(r.replies(), kProcessIdReply);

  r.send(cat({repeat('x', 189), kProcessId}));
  r.at(7000ms);
  r.m.set_power(false, r.now);
  r.m.set_power(true, r.now);
  r.at(100000ms);
  EXPECT_TRUE(r.replies().empty());
  EXPECT_EQ(r.m.status().unprinted_work, 0u);
}

TEST(ProcessId, LinesPerSecondPacesLineFeedsOnly) {
  PrinterConfig c;
  c.lines_per_second = 2;
  Rig r(c);
  r.send(cat({text("a\nb\n"), hex("1B 64 02"), repeat('y', 500), kProcessId}));  // four lines
  r.at(1999ms);
  EXPECT_TRUE(r.replies().empty());
  r.at(2000ms);
  EXPECT_EQ(r.replies(), kProcessIdReply);
}

TEST(Drawer, KickOpensAfterTheOnTimeOnEitherPinForm) {
  for (const Bytes& kick : {kKickPin2, hex("1B 70 00 64 C8"), hex("1B 70 31 64 C8"), hex("1B 70 01 64 C8")}) {
    Rig r;
    r.send(kAsbOn);
    r.replies();
    r.send(kick);
    EXPECT_EQ(r.m.status().drawer_kicks, 1u);
    EXPECT_EQ(*r.m.next_deadline(), r.t0 + 200ms);
    r.at(199ms);
    EXPECT_FALSE(r.m.status().drawer_open);
    r.at(200ms);
    EXPECT_TRUE(r.m.status().drawer_open);
    EXPECT_FALSE(r.m.status().pin3_high);
    EXPECT_EQ(r.replies(), hex("10 00 00 00"));
    r.send(kick);  // already open: no further report
    r.at(1000ms);
    EXPECT_TRUE(r.replies().empty());
    EXPECT_EQ(r.m.status().drawer_kicks, 2u);
  }
}

TEST(Drawer, OnlyWiredPinsOpenItAndAutoCloseReports) {
  PrinterConfig c;
  c.drawer_on_pin2 = false;
  c.drawer_auto_close = 3000ms;
  Rig r(c);
  r.send(kAsbOn);
  r.replies();
  r.send(kKickPin2);
  r.at(500ms);
  EXPECT_FALSE(r.m.status().drawer_open);
  EXPECT_EQ(r.m.status().drawer_kicks, 1u);
  r.send(hex("1B 70 31 32 32"));  // pin 5, 100 ms
  r.at(600ms);
  EXPECT_TRUE(r.m.status().drawer_open);
  EXPECT_EQ(r.replies(), hex("10 00 00 00"));
  EXPECT_EQ(*r.m.next_deadline(), r.t0 + 3600ms);
  r.at(3599ms);
  EXPECT_TRUE(r.m.status().drawer_open);
  r.at(3600ms);
  EXPECT_FALSE(r.m.status().drawer_open);
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));
  EXPECT_FALSE(r.m.next_deadline().has_value());
}

TEST(Drawer, KickWaitsWhileOfflineButRealTimePulseDoesNot) {
  Rig r;
  r.m.set_online(false, r.now);
  r.send(kKickPin2);
  r.at(1000ms);
  EXPECT_EQ(r.m.status().drawer_kicks, 0u);
  r.m.set_online(true, r.now);
  EXPECT_EQ(r.m.status().drawer_kicks, 1u);
  r.at(1200ms);
  EXPECT_TRUE(r.m.status().drawer_open);
  r.m.close_drawer(r.now);
  r.m.set_online(false, r.now);
  r.send(hex("10 14 01 00 01"));  // DLE DC4: 100 ms pulse on pin 2
  r.at(1300ms);
  EXPECT_TRUE(r.m.status().drawer_open);
}

TEST(Power, SwitchedOffPrinterDiscardsInputAndAnswersNothing) {
  PrinterConfig c;
  Rig r(c);
  r.send(kAsbOn);
  r.replies();
  r.send(hex("1D 28 48 06"));  // half a command when the power goes
  r.m.set_power(false, r.now);
  r.send(hex("10 04 01 41 42"));
  r.m.set_cover_open(true, r.now);
  r.m.open_drawer(r.now);
  EXPECT_TRUE(r.replies().empty());
  EXPECT_EQ(r.m.status().bytes_discarded, 5u);
  EXPECT_EQ(r.m.capture(), cat({kAsbOn, hex("1D 28 48 06")}));

  r.m.set_power(true, r.now);
  EXPECT_TRUE(r.replies().empty()) << "ASB is off after power-on by default";
  r.send(text("ABC"));
  ASSERT_FALSE(r.m.commands().empty());
  EXPECT_EQ(r.m.commands().back().kind, CommandKind::Text);
  EXPECT_EQ(r.m.commands().back().data, text("ABC"));
}

TEST(Power, MemorySwitchCanEnableStatusBackAtPowerOn) {
  PrinterConfig c;
  c.asb_mask_at_power_on = 0xFF;
  Rig r(c);
  r.m.set_power(false, r.now);
  r.m.set_power(true, r.now);
  EXPECT_EQ(r.replies(), hex("14 00 00 00"));
  r.m.set_paper_end(true, r.now);
  EXPECT_EQ(r.replies(), hex("1C 00 0C 00"));
}

TEST(Recording, TextJoinsAcrossChunksAndEveryStoreIsBounded) {
  {
    Rig r;
    r.send(text("ab"));
    r.send(text("cd"));
    ASSERT_EQ(r.m.commands().size(), 1u);
    EXPECT_EQ(r.m.commands()[0].data, text("abcd"));
    r.m.clear_capture();
    EXPECT_TRUE(r.m.capture().empty());
    EXPECT_TRUE(r.m.commands().empty());
  }
  PrinterConfig c;
  c.capture_limit = 10;
  c.command_limit = 3;
  c.command_payload_budget = 16;
  c.reply_limit = 8;
  Rig r(c);
  r.send(hex("0A 0A 0A 0A 0A"));
  r.m.clear_capture();
  r.send(cat({hex("1D 6B 49 14"), repeat('7', 20), hex("0A 0A 0A")}));
  EXPECT_EQ(r.m.capture().size(), 10u);
  EXPECT_EQ(r.m.status().capture_dropped, 17u);
  EXPECT_EQ(r.m.commands().size(), 3u);
  EXPECT_EQ(r.m.status().commands_dropped, 1u);
  EXPECT_TRUE(r.m.commands()[0].truncated);
  EXPECT_TRUE(r.m.commands()[0].data.empty());
  r.send(cat({kAsbOn, kAsbOn, kAsbOn}));
  EXPECT_EQ(r.replies().size(), 8u);
  EXPECT_EQ(r.m.status().replies_dropped, 4u);
}
