// WaitForDrawerClose: the pumps, the wait for the closed signal and the
// repeating tone, observed through the tone hook.
#include <thread>

#include "platform/tone.h"
#include "tests/drawer/drawer_fakes.h"

namespace opos::test {
namespace {

struct ToneRecord {
  int32_t frequency;
  int32_t duration;
  uint32_t tick;
};

class WaitCloseTest : public DrawerTest {
 protected:
  void SetUp() override {
    DrawerTest::SetUp();
    platform::SetToneHook([this](int32_t f, int32_t d) { OnTone(f, d); });
  }
  void TearDown() override {
    drawer_.reset();  // no beeper thread is left to call the hook
    platform::SetToneHook({});
    DrawerTest::TearDown();
  }

  // Beeper thread.
  void OnTone(int32_t frequency, int32_t duration) {
    size_t count = 0;
    {
      std::lock_guard<std::mutex> g(toneLock_);
      tones_.push_back({frequency, duration, platform::TickCount()});
      count = tones_.size();
    }
    if (count == closeAtTone_.load()) port_->drawerSensorLow = 0;
    if (count == lostAtTone_.load()) port_->deviceLost = 1;
  }
  std::vector<ToneRecord> Tones() {
    std::lock_guard<std::mutex> g(toneLock_);
    return tones_;
  }
  // An enabled drawer that has reported itself open.
  void ClaimOpenDrawer(const LibraryProfile& library = kFakeSerial) {
    OpenAndClaim({}, library);
    port_->drawerSensorLow = 1;
    Enable();
    ASSERT_TRUE(PumpUntilEvents(1));
    ASSERT_EQ(control_.status[0], CASH_SUE_DRAWEROPEN);
  }

  std::mutex toneLock_;
  std::vector<ToneRecord> tones_;
  std::atomic<size_t> closeAtTone_{0};  // the drawer closes at this tone; 0: never
  std::atomic<size_t> lostAtTone_{0};   // the port's device vanishes at this tone; 0: never
};

TEST_F(WaitCloseTest, ParallelLooksAfterFourPumps) {
  OpenAndClaim({}, kFakeParallel);
  Enable();
  ASSERT_TRUE(PumpUntilEvents(1));
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_SUCCESS);
  EXPECT_GE(platform::TickCount() - start, 750u);
  EXPECT_LT(platform::TickCount() - start, 1150u);
}

TEST_F(WaitCloseTest, ZeroTimeoutBeepsAsSoonAsTheDrawerIsSeenOpen) {
  ClaimOpenDrawer();
  closeAtTone_ = 1;
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(0, 800, 100, 100), OPOS_SUCCESS);
  const auto tones = Tones();
  ASSERT_FALSE(tones.empty());
  EXPECT_GE(tones[0].tick - start, 1150u);
  EXPECT_LT(tones[0].tick - start, 1700u);
  EXPECT_EQ(tones[0].frequency, 800);
}

TEST_F(WaitCloseTest, BadArgumentsAndDisabledDrawerAreRefusedAtOnce) {
  ClaimOpenDrawer();
  // A tone that may sound must not stall the beeper.
  const int32_t bad[][4] = {{500, 1000, -5, 300}, {500, 1000, 200, -1}, {0, 1000, INT32_MIN, 0}};
  for (const auto& a : bad) {
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(drawer_->WaitForDrawerClose(a[0], a[1], a[2], a[3]), OPOS_E_ILLEGAL);
    EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_LT(platform::TickCount() - start, 100u);
  }
  // A disabled drawer is not read here, so an open one could never be seen closing.
  drawer_->SetPropertyNumber(PIDX_DeviceEnabled, 0);
  EXPECT_EQ(drawer_->WaitForDrawerClose(500, 1000, 200, 300), OPOS_E_DISABLED);
  EXPECT_TRUE(Tones().empty());
}

TEST_F(WaitCloseTest, SilentOrEndlessWaitsStillWaitForTheDrawerToClose) {
  ClaimOpenDrawer();
  // A silent tone; BeepTimeout -1 (INFINITE): no tone at all, its arguments
  // unused; a negative frequency.
  const int32_t cases[][4] = {{100, 0, 200, 300}, {-1, 1000, -1, -1}, {100, -800, 200, 300}};
  for (const auto& a : cases) {
    port_->drawerSensorLow = 1;
    for (int i = 0; i < 80 && drawer_->GetPropertyNumber(PIDXCash_DrawerOpened) != 1; ++i) PumpFor(50);
    // Closed a few poller passes into the wait, well after any timeout ran out.
    port_->closeDrawerAtCheck = port_->checkReadyCalls.load() + 4;
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(drawer_->WaitForDrawerClose(a[0], a[1], a[2], a[3]), OPOS_SUCCESS) << a[0] << " " << a[1];
    EXPECT_GT(platform::TickCount() - start, 1300u);
    EXPECT_EQ(port_->drawerSensorLow.load(), 0);
  }
  EXPECT_TRUE(Tones().empty());
}

TEST_F(WaitCloseTest, ALostPortEndsTheWaitWithAFailureAndStopsTheTone) {
  ClaimOpenDrawer();
  lostAtTone_ = 1;
  EXPECT_EQ(drawer_->WaitForDrawerClose(0, 1000, 50, 50), OPOS_E_FAILURE);
  EXPECT_EQ(drawer_->GetPropertyNumber(PIDX_ResultCode), OPOS_E_FAILURE);
  const size_t tones = Tones().size();
  PumpFor(400);
  EXPECT_LE(Tones().size(), tones + 1);  // at most the round already under way
  // Lost before the wait: it does not start, whatever negative BeepTimeout asks for.
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->WaitForDrawerClose(INT32_MIN, 0, 0, 0), OPOS_E_FAILURE);
  EXPECT_LT(platform::TickCount() - start, 2000u);
}

TEST_F(WaitCloseTest, ReleaseCutsALongToneShort) {
  ClaimOpenDrawer();
  closeAtTone_ = 1;
  EXPECT_EQ(drawer_->WaitForDrawerClose(0, 1000, 60000, 0), OPOS_SUCCESS);
  ASSERT_EQ(Tones().size(), 1u);
  const uint32_t start = platform::TickCount();
  EXPECT_EQ(drawer_->ReleaseDevice(), OPOS_SUCCESS);
  EXPECT_LT(platform::TickCount() - start, 1500u);
}

TEST_F(WaitCloseTest, ParallelOpenDrawerOnAnOpenDrawerBeepsInsteadOfPulsing) {
  ClaimOpenDrawer(kFakeParallel);
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  EXPECT_TRUE(port_->Writes().empty());
  const auto tones = Tones();
  ASSERT_EQ(tones.size(), 1u);
  EXPECT_EQ(tones[0].frequency, 1000);
  EXPECT_EQ(tones[0].duration, 50);

  // Closed again: the pulse goes out, and the drawer is expected to open, so a
  // wait right after it does not end before the drawer has opened and closed.
  port_->drawerSensorLow = 0;
  ASSERT_TRUE(PumpUntilEvents(2));
  EXPECT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
  ASSERT_EQ(port_->Writes().size(), 1u);
  port_->drawerSensorLow = 1;
  closeAtTone_ = 2;
  EXPECT_EQ(drawer_->WaitForDrawerClose(200, 700, 50, 50), OPOS_SUCCESS);
  EXPECT_GE(Tones().size(), 2u);
}

}  // namespace
}  // namespace opos::test
