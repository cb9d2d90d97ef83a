// Manual-reset events with wait-one / wait-any / wait-all, and the per-thread
// message queue with its file descriptor, and the pollable event.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/message_queue.h"
#include "platform/pollable_event.h"
#include "platform/sync_event.h"

namespace opos::platform {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

TEST(Event, ManualResetStaysSetUntilReset) {
  Event e;
  EXPECT_FALSE(e.Wait(0));
  e.Set();
  EXPECT_TRUE(e.Wait(0));
  EXPECT_TRUE(e.Wait());  // still set: manual reset
  e.Reset();
  const uint32_t start = TickCount();
  EXPECT_FALSE(e.Wait(50));
  EXPECT_GE(TickCount() - start, 45u);
}

TEST(Event, WaitAnyReportsTheLowestSetIndexAndTimesOut) {
  Event a, b, c;
  EXPECT_EQ(WaitAny({&a, &b, &c}, 20), -1);
  c.Set();
  b.Set();
  EXPECT_EQ(WaitAny({&a, &b, &c}, 0), 1);
  Event d, stop;
  std::thread t([&] { stop.Set(); });
  EXPECT_EQ(WaitAny({&d, &stop}), 1);
  t.join();
}

TEST(Event, WaitAllNeedsEveryEventAtOnce) {
  Event a, b;
  a.Set();
  EXPECT_FALSE(WaitAll({&a, &b}, 30));
  std::atomic<bool> done{false};
  std::thread t([&] {
    EXPECT_TRUE(WaitAll({&a, &b}));
    done = true;
  });
  b.Set();
  t.join();
  EXPECT_TRUE(done.load());
}

TEST(Event, ManyWaitersAndSettersDoNotLoseWakeUps) {
  // Each round: a waiter blocks on two events, another thread sets one.
  for (int round = 0; round < 200; ++round) {
    Event x, y;
    std::thread setter([&] { (round % 2 ? x : y).Set(); });
    EXPECT_EQ(WaitAny({&x, &y}, 5000), round % 2 ? 0 : 1);
    setter.join();
  }
}

TEST(PollableEvent, ReadableExactlyWhileSetAndWaitedOnBesideADevice) {
  PollableEvent e;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  InputWait w = WaitForInput(pipeFds[0], {&e}, 0);
  EXPECT_FALSE(w.input || w.signalled);
  std::thread setter([&] { e.Set(); });
  EXPECT_TRUE(e.Wait(5000));
  setter.join();
  e.Set();  // twice set, once reset: not set
  w = WaitForInput(pipeFds[0], {&e}, 0);
  EXPECT_TRUE(w.signalled);
  EXPECT_FALSE(w.input);
  e.Reset();
  EXPECT_FALSE(e.Wait(0));
  ASSERT_EQ(::write(pipeFds[1], "x", 1), 1);
  w = WaitForInput(pipeFds[0], {&e}, 5000);
  EXPECT_TRUE(w.input);
  EXPECT_FALSE(w.signalled);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST(MessageQueue, FdReadableExactlyWhileMessagesWait) {
  auto q = MessageQueue::ForCurrentThread();
  q->Dispatch();
  EXPECT_FALSE(Readable(q->Fd()));
  std::atomic<int> ran{0};
  std::thread poster([&] {
    q->Post([&] { ran.fetch_add(1); });
    q->Post([&] { ran.fetch_add(10); });
  });
  poster.join();
  EXPECT_TRUE(Readable(q->Fd()));
  EXPECT_EQ(ran.load(), 0);  // nothing runs until the owner dispatches
  EXPECT_EQ(q->Dispatch(), 2u);
  EXPECT_EQ(ran.load(), 11);
  EXPECT_FALSE(Readable(q->Fd()));
}

TEST(MessageQueue, EachThreadHasItsOwnQueue) {
  auto mine = MessageQueue::ForCurrentThread();
  std::shared_ptr<MessageQueue> theirs;
  std::thread t([&] { theirs = MessageQueue::ForCurrentThread(); });
  t.join();
  EXPECT_NE(mine.get(), theirs.get());
  EXPECT_EQ(mine.get(), MessageQueue::ForCurrentThread().get());
}

TEST(MessageQueue, PumpWaitRunsPostsAsTheyArriveAndLastsItsTime) {
  auto q = MessageQueue::ForCurrentThread();
  std::atomic<uint32_t> ranAt{0};
  const uint32_t start = TickCount();
  std::thread poster([&] {
    SleepMs(50);
    q->Post([&] { ranAt = TickCount(); });
  });
  PumpWait(200);
  const uint32_t took = TickCount() - start;
  poster.join();
  ASSERT_NE(ranAt.load(), 0u);
  EXPECT_LT(ranAt.load() - start, 150u);  // delivered when it came, not at the end
  EXPECT_GE(took, 195u);
  EXPECT_LT(took, 400u);
}

TEST(MessageQueue, AMessageMayPostAnother) {
  auto q = MessageQueue::ForCurrentThread();
  int order = 0, first = 0, second = 0;
  q->Post([&] {
    first = ++order;
    q->Post([&] { second = ++order; });
  });
  PumpWait(50);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

}  // namespace
}  // namespace opos::platform
