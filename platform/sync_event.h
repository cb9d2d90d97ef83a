// Manual-reset events with wait-one, wait-any and wait-all, with and without a
// time limit: the stand-in for Win32 events and WaitFor{Single,Multiple}Objects.
// A waiting thread sleeps on a condition variable; nothing polls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace opos::platform {

inline constexpr int kInfinite = -1;

class Event {
 public:
  explicit Event(bool initiallySet = false) : set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when set within timeoutMs (kInfinite: no limit).
  bool Wait(int timeoutMs = kInfinite) const;

 private:
  friend struct EventAccess;
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::atomic<bool> set_;  // read by multi-event waiters without lock_
  mutable std::vector<struct EventWaiter*> waiters_;
};

// Index of a set event (the lowest index when several are), or -1 on timeout.
int WaitAny(const std::vector<const Event*>& events, int timeoutMs = kInfinite);
// True when all were set at one moment within timeoutMs; false on timeout.
bool WaitAll(const std::vector<const Event*>& events, int timeoutMs = kInfinite);

}  // namespace opos::platform
