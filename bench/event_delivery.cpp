// Event delivery from a worker thread to the opening thread: throughput and
// latency while the opening thread pumps its message queue.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/message_queue.h"
#include "service/event_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Events per second: a worker queues a burst, the opening thread pumps until
// every event has been delivered to it.
void BM_EventThroughput(benchmark::State& state) {
  const int burst = static_cast<int>(state.range(0));
  std::mutex stateLock;
  opos::CEventQueue queue(stateLock);
  auto target = opos::platform::MessageQueue::ForCurrentThread();
  std::atomic<int> delivered{0};
  queue.Start(
      target, [&](opos::CSOEvent&) { delivered.fetch_add(1, std::memory_order_relaxed); }, false, false);
  for (auto _ : state) {
    delivered = 0;
    std::thread worker([&] {
      for (int i = 0; i < burst; ++i)
        queue.QueueEvent(std::make_unique<opos::CSOEvent>(opos::SOE_STATUSUPDATE, i));
    });
    while (delivered.load(std::memory_order_relaxed) < burst) target->PumpFor(1);
    worker.join();
  }
  queue.Stop();
  state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_EventThroughput)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

// Times one hand-over per iteration: a fresh worker sleeps 200 us, then calls
// send; whatever send sets going stores NowNs() in arrivedAt on this thread,
// which waits in its pump. Reports the median in microseconds.
template <typename Send>
void MedianHandOver(benchmark::State& state, opos::platform::MessageQueue& target,
                    std::atomic<int64_t>& arrivedAt, Send send) {
  std::vector<double> samples;
  for (auto _ : state) {
    arrivedAt = 0;
    int64_t sentAt = 0;
    std::thread worker([&] {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      sentAt = NowNs();
      send();
    });
    while (arrivedAt.load() == 0) target.PumpFor(1);
    worker.join();
    samples.push_back(static_cast<double>(arrivedAt.load() - sentAt) / 1000.0);
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) state.counters["median_us"] = samples[samples.size() / 2];
}

// Latency of one event: from QueueEvent on the worker to the sink call on the
// opening thread.
void BM_EventLatency(benchmark::State& state) {
  std::mutex stateLock;
  opos::CEventQueue queue(stateLock);
  auto target = opos::platform::MessageQueue::ForCurrentThread();
  std::atomic<int64_t> deliveredAt{0};
  queue.Start(
      target, [&](opos::CSOEvent&) { deliveredAt = NowNs(); }, false, false);
  MedianHandOver(state, *target, deliveredAt,
                 [&] { queue.QueueEvent(std::make_unique<opos::CSOEvent>(opos::SOE_STATUSUPDATE, 1)); });
  queue.Stop();
}
BENCHMARK(BM_EventLatency)->Iterations(500)->UseRealTime();

// The floor under BM_EventLatency: one bare message posted by a worker to the
// pumping opening thread, the one thread wake-up a delivery cannot avoid.
void BM_PostLatency(benchmark::State& state) {
  auto target = opos::platform::MessageQueue::ForCurrentThread();
  std::atomic<int64_t> ranAt{0};
  MedianHandOver(state, *target, ranAt, [&] { target->Post([&] { ranAt = NowNs(); }); });
}
BENCHMARK(BM_PostLatency)->Iterations(500)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
