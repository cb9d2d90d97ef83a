// The tone output's hook, duration and cancellation.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/tone.h"

namespace opos::platform {
namespace {

class ToneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetToneHook([this](int32_t f, int32_t d) {
      {
        std::lock_guard<std::mutex> g(lock_);
        heard_.push_back({f, d});
      }
      sounding_.Set();
    });
  }
  void TearDown() override { SetToneHook({}); }
  std::vector<std::pair<int32_t, int32_t>> Heard() {
    std::lock_guard<std::mutex> g(lock_);
    return heard_;
  }

  std::mutex lock_;
  std::vector<std::pair<int32_t, int32_t>> heard_;
  Event sounding_;
};

TEST_F(ToneTest, HookHearsTheToneAndTheCallLastsItsDuration) {
  const uint32_t start = TickCount();
  Tone(1500, 120);
  EXPECT_GE(TickCount() - start, 119u);
  EXPECT_LT(TickCount() - start, 500u);
  ASSERT_EQ(Heard().size(), 1u);
  EXPECT_EQ(Heard()[0], std::make_pair(1500, 120));
}

TEST_F(ToneTest, NothingSoundsForNoFrequencyOrNoDuration) {
  const uint32_t start = TickCount();
  Tone(0, 100);
  Tone(-5, 100);
  Tone(800, 0);
  Tone(800, -100);
  EXPECT_LT(TickCount() - start, 50u);
  EXPECT_TRUE(Heard().empty());
}

TEST_F(ToneTest, CancelEndsALongToneEarly) {
  Event cancel;
  std::thread canceller([&] {
    sounding_.Wait();
    cancel.Set();
  });
  const uint32_t start = TickCount();
  Tone(1000, 60000, &cancel);
  EXPECT_LT(TickCount() - start, 2000u);
  canceller.join();

  // Already cancelled: returns at once, after the tone was handed on.
  const uint32_t again = TickCount();
  Tone(1000, 60000, &cancel);
  EXPECT_LT(TickCount() - again, 100u);
  EXPECT_EQ(Heard().size(), 2u);
}

}  // namespace
}  // namespace opos::platform

namespace opos::platform {
namespace {

TEST(ToneLog, WithoutAHookTonesGoToTheLogFile) {
  char tmpl[] = "/tmp/opos-tone-XXXXXX";
  const int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ::setenv("OPOS_TONE_LOG", tmpl, 1);
  const uint32_t before = TickCount();
  Tone(1000, 30);
  Tone(440, 20);
  ::unsetenv("OPOS_TONE_LOG");
  std::ifstream in(tmpl);
  uint32_t tick = 0;
  int32_t f = 0, d = 0;
  ASSERT_TRUE(in >> tick >> f >> d);
  EXPECT_LT(tick - before, 100u);
  EXPECT_EQ(f, 1000);
  EXPECT_EQ(d, 30);
  ASSERT_TRUE(in >> tick >> f >> d);
  EXPECT_EQ(f, 440);
  EXPECT_EQ(d, 20);
  EXPECT_FALSE(in >> tick);
  ::unlink(tmpl);
}

}  // namespace
}  // namespace opos::platform
