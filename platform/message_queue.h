// Per-thread message queue: the stand-in for a thread's Windows message loop.
// Any thread posts a message to the queue of another thread; the owning thread
// runs the messages when it pumps. On Linux the queue's eventfd is readable
// while messages wait, so an application can watch it from its own loop (epoll,
// Qt, GLib); on Windows the messages ride the thread's own message loop (a
// message-only window), so any loop that dispatches them runs them.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace opos::platform {

class MessageQueue {
 public:
  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // The calling thread's queue, created on first use; lives while the thread
  // runs or while someone holds it.
  static std::shared_ptr<MessageQueue> ForCurrentThread();

  // Any thread. Never blocks on the owner.
  void Post(std::function<void()> message);
  // Readable (eventfd counter > 0) exactly while messages wait; -1 on Windows.
#ifdef _WIN32
  int Fd() const {
    return -1;
  }
#else
  int Fd() const {
    return fd_;
  }
#endif
  // Owning thread: runs every message waiting now (not those posted meanwhile
  // by the messages themselves beyond one pass). Returns how many ran.
  size_t Dispatch();
  // Owning thread: dispatches messages as they arrive for timeoutMs milliseconds.
  void PumpFor(int timeoutMs);
  size_t Pending() const;

 private:
#ifdef _WIN32
  void* window_ = nullptr;  // HWND of the owning thread's message-only window
#else
  int fd_ = -1;
#endif
  mutable std::mutex lock_;
  std::deque<std::function<void()>> messages_;
};

// Pumps the calling thread's queue for ms milliseconds (200 by default): the
// replacement for the modal dialog with its 200 ms timer.
void PumpWait(int ms = 200);

}  // namespace opos::platform
