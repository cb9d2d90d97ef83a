// A manual-reset signal that can be waited for beside a device: an eventfd
// that is readable exactly while the signal is set (on Windows, an event
// object, waited for with the device's pending read). The port status reader
// sleeps on its device and on these at once, so bytes from the printer, a
// stop and a "look now" all wake it without a polling period.
#pragma once

#include <atomic>
#include <initializer_list>
#include <mutex>

namespace opos::platform {

class PollableEvent {
 public:
  PollableEvent();
  ~PollableEvent();
  PollableEvent(const PollableEvent&) = delete;
  PollableEvent& operator=(const PollableEvent&) = delete;

  // Any thread; never blocks.
  void Set();
  void Reset();
  bool IsSet() const { return set_.load(); }
  // True when set within timeoutMs (negative: no limit).
  bool Wait(int timeoutMs) const;
#ifdef _WIN32
  void* Handle() const {
    return handle_;
  }  // a manual-reset event object
#else
  int Fd() const {
    return fd_;
  }
#endif

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::mutex lock_;  // keeps set_ and the eventfd counter (or event object) in step
  std::atomic<bool> set_{false};
};

// What ended a WaitForInput.
struct InputWait {
  bool input = false;      // the device has bytes (or an error or hang-up to report)
  bool signalled = false;  // one of the signals is set
};

// Waits until deviceFd (ignored when negative) has input, or one of signals is
// set, or timeoutMs (negative: no limit) has passed; restarts after a signal
// handler with the time that is left. Neither reads the device nor resets a
// signal.
[[nodiscard]] InputWait WaitForInput(int deviceFd, std::initializer_list<const PollableEvent*> signals,
                                     int timeoutMs);

}  // namespace opos::platform
