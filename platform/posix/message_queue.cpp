#include "platform/message_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace opos::platform {

MessageQueue::MessageQueue() {
  fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

MessageQueue::~MessageQueue() {
  if (fd_ >= 0) close(fd_);
}

std::shared_ptr<MessageQueue> MessageQueue::ForCurrentThread() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  return queue;
}

void MessageQueue::Post(std::function<void()> message) {
  {
    std::lock_guard<std::mutex> g(lock_);
    messages_.push_back(std::move(message));
  }
  uint64_t one = 1;
  // The counter only tells "something waits"; a full counter cannot happen here.
  ssize_t n = write(fd_, &one, sizeof one);
  (void)n;
}

size_t MessageQueue::Dispatch() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> g(lock_);
    batch.swap(messages_);
    // Drain the counter while holding the lock: a Post after this point writes
    // again, so the fd stays readable exactly while messages wait.
    uint64_t count;
    ssize_t n = read(fd_, &count, sizeof count);
    (void)n;
  }
  for (auto& m : batch) m();
  return batch.size();
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> g(lock_);
  return messages_.size();
}

void MessageQueue::PumpFor(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    Dispatch();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
  }
}

void PumpWait(int ms) {
  MessageQueue::ForCurrentThread()->PumpFor(ms);
}

}  // namespace opos::platform
