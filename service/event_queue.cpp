#include "service/event_queue.h"

namespace opos {

namespace {

// One posted delivery. The opening thread may run it only if the event thread
// has not given up on it (release), so a late message never touches a released
// instance. States: 0 posted, 1 running or done, 2 cancelled.
struct DeliveryTicket {
  std::atomic<int> state{0};
  platform::Event done;
};

}  // namespace

void CEventQueue::QueueEvent(std::unique_ptr<CSOEvent> record) {
  if (!record) return;
  std::lock_guard<std::mutex> g(lock_);
  queue_.push_back(std::move(record));
  queueNotEmpty_.Set();
}

void CEventQueue::SetFreeze(bool frozen) {
  if (frozen)
    freezeOff_.Reset();
  else
    freezeOff_.Set();
}

void CEventQueue::SetCoFreeze(bool frozen) {
  if (frozen)
    coFreezeOff_.Reset();
  else
    coFreezeOff_.Set();
}

void CEventQueue::Start(std::shared_ptr<platform::MessageQueue> target, DeliverFn deliver, bool frozen,
                        bool coFrozen) {
  Stop();
  // A freeze set before the claim holds events from the start.
  SetFreeze(frozen);
  SetCoFreeze(coFrozen);
  target_ = std::move(target);
  deliver_ = std::move(deliver);
  stop_.store(false);
  stopSignal_.Reset();
  {
    std::lock_guard<std::mutex> g(lock_);
    purge_ = false;
    purgeCount_ = 0;
  }
  thread_ = std::thread([this] { EventThread(); });
}

void CEventQueue::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  stopSignal_.Set();
  queueNotEmpty_.Set();
  freezeOff_.Set();
  coFreezeOff_.Set();
  thread_.join();
  // Records still queued are destroyed undelivered.
  std::deque<std::unique_ptr<CSOEvent>> rest;
  {
    std::lock_guard<std::mutex> g(lock_);
    rest.swap(queue_);
    queueNotEmpty_.Reset();
  }
}

void CEventQueue::BeginEventPurge() {
  std::lock_guard<std::mutex> g(lock_);
  int count = 0;
  for (const auto& r : queue_) {
    if (r->kind == SOE_ERROR || r->kind == SOE_OUTPUTCOMPLETE) ++count;
  }
  // With nothing to purge the flag stays clear, so no unrelated record is lost.
  purgeCount_ = count;
  purge_ = count > 0;
}

size_t CEventQueue::Size() const {
  std::lock_guard<std::mutex> g(lock_);
  return queue_.size();
}

void CEventQueue::DeliverQueued() {
  // Runs on the opening thread: delivers what is queued, one record at a
  // time and in order, until the queue is empty, a freeze holds it or a
  // release stops it. A handler may freeze events or begin a purge; both
  // are looked at again before every record.
  for (;;) {
    if (stop_.load() || !freezeOff_.IsSet() || !coFreezeOff_.IsSet()) return;
    std::unique_ptr<CSOEvent> record;
    bool drop = false;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (queue_.empty()) {
        queueNotEmpty_.Reset();
        return;
      }
      record = std::move(queue_.front());
      queue_.pop_front();
      if (purge_) {
        drop = true;
        if (record->kind == SOE_ERROR || record->kind == SOE_OUTPUTCOMPLETE) {
          if (--purgeCount_ <= 0) purge_ = false;
        }
      }
    }
    if (!drop) deliver_(*record);
  }
}

void CEventQueue::EventThread() {
  for (;;) {
    // Stop raises all three, so this wait also ends on release.
    platform::WaitAll({&queueNotEmpty_, &freezeOff_, &coFreezeOff_});
    if (stop_.load()) return;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (queue_.empty()) {
        queueNotEmpty_.Reset();
        continue;
      }
    }
    // One post takes everything queued by the time the opening thread runs
    // it, so a burst costs one hand-over, not one per record.
    auto ticket = std::make_shared<DeliveryTicket>();
    target_->Post([this, ticket] {
      int expected = 0;
      // Only a ticket the event thread still waits for may run; the queue
      // is alive while it waits.
      if (!ticket->state.compare_exchange_strong(expected, 1)) return;
      deliveringThread_.store(std::this_thread::get_id());
      DeliverQueued();
      deliveringThread_.store(std::thread::id{});
      ticket->done.Set();
    });
    if (platform::WaitAny({&ticket->done, &stopSignal_}) != 0) {
      int expected = 0;
      if (!ticket->state.compare_exchange_strong(expected, 2)) {
        // Already running on the opening thread: it is pumping, so it finishes.
        ticket->done.Wait();
      }
      return;
    }
  }
}

}  // namespace opos
