// The event queue of one Service Object instance. A delivery posted to the
// opening thread's message queue takes every record queued by the time it runs.
// QueueEvent posts it when nothing holds events back; EventThread posts what a
// freeze held back once the freeze lifts. Freezing never drops records.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "common/so_event.h"
#include "platform/message_queue.h"
#include "platform/sync_event.h"

namespace opos {

class CEventQueue {
 public:
  // deliver runs on the opening thread, one record at a time, in queue order.
  using DeliverFn = std::function<void(CSOEvent&)>;

  // stateLock is the instance's state-and-event-queue lock.
  explicit CEventQueue(std::mutex& stateLock) : lock_(stateLock) {}
  ~CEventQueue() { Stop(); }
  CEventQueue(const CEventQueue&) = delete;
  CEventQueue& operator=(const CEventQueue&) = delete;

  // Any thread; never waits for delivery. The queue owns the record.
  void QueueEvent(std::unique_ptr<CSOEvent> record);
  // Mirrors of the two freeze flags: events flow only while both are off.
  void SetFreeze(bool frozen);
  void SetCoFreeze(bool frozen);

  // Starts EventThread and delivery through target's message queue; the freeze
  // mirrors start as the current flags give.
  void Start(std::shared_ptr<platform::MessageQueue> target, DeliverFn deliver, bool frozen, bool coFrozen);
  // Stops EventThread and destroys every record still queued, undelivered.
  // Safe to call when not started. Never blocks on the opening thread: a
  // delivery that has not begun when the stop arrives is cancelled.
  void Stop();
  bool Running() const { return thread_.joinable(); }

  // Printer: drop queued records until the Error and OutputComplete records
  // queued now have gone.
  void BeginEventPurge();
  size_t Size() const;
  // True on the opening thread while it runs a delivery: stopping the queue
  // from there would wait for that very delivery.
  bool InDeliveryOnThisThread() const { return deliveringThread_.load() == std::this_thread::get_id(); }

 private:
  struct DeliveryTicket;
  // Under lock_: records a new delivery as the posted one and returns its ticket.
  std::shared_ptr<DeliveryTicket> BeginDelivery();
  // Without lock_: posts the delivery to target.
  void PostDelivery(platform::MessageQueue& target, std::shared_ptr<DeliveryTicket> ticket);
  void EventThread();
  void DeliverQueued();

  std::mutex& lock_;
  std::deque<std::unique_ptr<CSOEvent>> queue_;
  platform::Event queueNotEmpty_;
  platform::Event freezeOff_{true};
  platform::Event coFreezeOff_{true};
  std::atomic<bool> stop_{false};
  bool purge_ = false;  // under lock_
  int purgeCount_ = 0;  // under lock_
  // Under lock_: the one delivery posted or running, null when none, so a
  // release can cancel it or wait for it.
  std::shared_ptr<DeliveryTicket> ticket_;
  std::shared_ptr<platform::MessageQueue> target_;  // under lock_; set from Start to Stop
  DeliverFn deliver_;                               // written in Start under lock_, read by deliveries
  std::thread thread_;
  std::atomic<std::thread::id> deliveringThread_{};
};

}  // namespace opos
