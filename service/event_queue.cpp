#include "service/event_queue.h"

namespace opos {

// One posted delivery. The opening thread may run it only if no release has
// given up on it, so a late message never touches a released instance.
// States: 0 posted, 1 running or done, 2 cancelled.
struct CEventQueue::DeliveryTicket {
  std::atomic<int> state{0};
  platform::Event done;
};

void CEventQueue::QueueEvent(std::unique_ptr<CSOEvent> record) {
  if (!record) return;
  std::shared_ptr<DeliveryTicket> ticket;
  std::shared_ptr<platform::MessageQueue> target;
  {
    std::lock_guard<std::mutex> g(lock_);
    queue_.push_back(std::move(record));
    // A delivery already posted or running takes this record too.
    if (ticket_) return;
    if (target_ && !stop_.load() && freezeOff_.IsSet() && coFreezeOff_.IsSet()) {
      // Nothing holds events back: post straight to the opening thread
      // instead of waking EventThread to post, one thread hop less.
      ticket = BeginDelivery();
      target = target_;
    } else {
      queueNotEmpty_.Set();
    }
  }
  if (ticket) PostDelivery(*target, std::move(ticket));
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
  stop_.store(false);
  {
    std::lock_guard<std::mutex> g(lock_);
    target_ = std::move(target);
    deliver_ = std::move(deliver);
    purge_ = false;
    purgeCount_ = 0;
  }
  thread_ = std::thread([this] { EventThread(); });
}

void CEventQueue::Stop() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  queueNotEmpty_.Set();
  freezeOff_.Set();
  coFreezeOff_.Set();
  thread_.join();
  // Nothing posts from here on (stop_ is seen under lock_). Records still
  // queued are destroyed undelivered.
  std::deque<std::unique_ptr<CSOEvent>> rest;
  std::shared_ptr<DeliveryTicket> ticket;
  {
    std::lock_guard<std::mutex> g(lock_);
    rest.swap(queue_);
    queueNotEmpty_.Reset();
    ticket.swap(ticket_);
    target_.reset();
  }
  if (ticket) {
    int expected = 0;
    // Already running on the opening thread: it is pumping, so it finishes
    // (and sees stop_ before the next record).
    if (!ticket->state.compare_exchange_strong(expected, 2)) ticket->done.Wait();
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

std::shared_ptr<CEventQueue::DeliveryTicket> CEventQueue::BeginDelivery() {
  ticket_ = std::make_shared<DeliveryTicket>();
  return ticket_;
}

void CEventQueue::PostDelivery(platform::MessageQueue& target, std::shared_ptr<DeliveryTicket> ticket) {
  target.Post([this, ticket = std::move(ticket)] {
    int expected = 0;
    // Only a ticket no release has cancelled may run; a release waits for
    // a running one, so the queue is alive until done is set.
    if (!ticket->state.compare_exchange_strong(expected, 1)) return;
    deliveringThread_.store(std::this_thread::get_id());
    DeliverQueued();
    // The queue may be gone from here on: once DeliverQueued has given up
    // ticket_, a release no longer waits for this one.
    ticket->done.Set();
  });
}

void CEventQueue::DeliverQueued() {
  // Runs on the opening thread: delivers what is queued, one record at a
  // time and in order, until the queue is empty, a freeze holds it or a
  // release stops it. A handler may freeze events or begin a purge; both
  // are looked at again before every record.
  for (;;) {
    std::unique_ptr<CSOEvent> record;
    bool drop = false;
    {
      std::lock_guard<std::mutex> g(lock_);
      if (queue_.empty() || stop_.load() || !freezeOff_.IsSet() || !coFreezeOff_.IsSet()) {
        // This delivery ends. The next record queued posts a new one; what a
        // freeze holds back is EventThread's to post once the freeze lifts.
        // Nothing of the queue is touched after this block.
        deliveringThread_.store(std::thread::id{});
        ticket_.reset();
        if (!queue_.empty())
          queueNotEmpty_.Set();
        else if (queueNotEmpty_.IsSet())
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
  // Posts what a freeze held back (or what was queued before the claim) once
  // nothing holds it; records queued while nothing holds them are posted by
  // QueueEvent itself.
  for (;;) {
    // Stop raises all three, so this wait also ends on release.
    platform::WaitAll({&queueNotEmpty_, &freezeOff_, &coFreezeOff_});
    if (stop_.load()) return;
    std::shared_ptr<DeliveryTicket> ticket;
    std::shared_ptr<platform::MessageQueue> target;
    {
      std::lock_guard<std::mutex> g(lock_);
      // A delivery already posted takes the queue and hands back what it
      // leaves behind.
      if (queue_.empty() || ticket_) {
        queueNotEmpty_.Reset();
        continue;
      }
      ticket = BeginDelivery();
      target = target_;
    }
    PostDelivery(*target, std::move(ticket));
  }
}

}  // namespace opos
