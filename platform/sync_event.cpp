#include "platform/sync_event.h"

#include <algorithm>
#include <chrono>

namespace opos::platform {

// A thread waiting on several events registers one of these with each of them;
// Set() wakes it through the waiter's own condition variable. The waiter reads
// the events' atomic flags under its own lock only.
struct EventWaiter {
  std::mutex lock;
  std::condition_variable cv;
};

struct EventAccess {
  static void Add(const Event* e, EventWaiter* w) {
    std::lock_guard<std::mutex> g(e->lock_);
    e->waiters_.push_back(w);
  }
  static void Remove(const Event* e, EventWaiter* w) {
    std::lock_guard<std::mutex> g(e->lock_);
    auto it = std::find(e->waiters_.begin(), e->waiters_.end(), w);
    if (it != e->waiters_.end()) e->waiters_.erase(it);
  }
  static bool Flag(const Event* e) { return e->set_.load(); }
};

namespace {

using Clock = std::chrono::steady_clock;

// Registers w with every event for the lifetime of the object.
class Registration {
 public:
  Registration(const std::vector<const Event*>& events, EventWaiter* w) : events_(events), w_(w) {
    for (const Event* e : events_) EventAccess::Add(e, w_);
  }
  ~Registration() {
    for (const Event* e : events_) EventAccess::Remove(e, w_);
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  const std::vector<const Event*>& events_;
  EventWaiter* w_;
};

// Waits on w until pred() holds or the time limit passes. A Set() between the
// check and the sleep cannot be missed: Set() notifies under w.lock.
template <typename Pred>
bool WaitOn(EventWaiter& w, int timeoutMs, Pred pred) {
  std::unique_lock<std::mutex> g(w.lock);
  if (timeoutMs < 0) {
    w.cv.wait(g, pred);
    return true;
  }
  return w.cv.wait_until(g, Clock::now() + std::chrono::milliseconds(timeoutMs), pred);
}

}  // namespace

void Event::Set() {
  // Already set: no waiter can be asleep on it, so there is no one to wake.
  if (set_.load()) return;
  std::lock_guard<std::mutex> g(lock_);
  set_.store(true);
  cv_.notify_all();
  // Waking under lock_ keeps each registered waiter alive: it deregisters
  // under lock_ before it goes away. Lock order is always event, then waiter.
  for (EventWaiter* w : waiters_) {
    std::lock_guard<std::mutex> wg(w->lock);
    w->cv.notify_all();
  }
}

void Event::Reset() {
  std::lock_guard<std::mutex> g(lock_);
  set_ = false;
}

bool Event::IsSet() const {
  return set_.load();
}

bool Event::Wait(int timeoutMs) const {
  std::unique_lock<std::mutex> g(lock_);
  if (timeoutMs < 0) {
    cv_.wait(g, [this] { return set_.load(); });
    return true;
  }
  return cv_.wait_until(g, Clock::now() + std::chrono::milliseconds(timeoutMs),
                        [this] { return set_.load(); });
}

int WaitAny(const std::vector<const Event*>& events, int timeoutMs) {
  EventWaiter w;
  Registration reg(events, &w);
  int found = -1;
  WaitOn(w, timeoutMs, [&] {
    for (size_t i = 0; i < events.size(); ++i) {
      if (EventAccess::Flag(events[i])) {
        found = static_cast<int>(i);
        return true;
      }
    }
    return false;
  });
  return found;
}

bool WaitAll(const std::vector<const Event*>& events, int timeoutMs) {
  EventWaiter w;
  Registration reg(events, &w);
  return WaitOn(w, timeoutMs, [&] {
    return std::all_of(events.begin(), events.end(), [](const Event* e) { return EventAccess::Flag(e); });
  });
}

}  // namespace opos::platform
