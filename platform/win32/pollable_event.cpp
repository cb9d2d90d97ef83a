// The signal as a manual-reset event object, so WaitForInput waits for it
// and a device's read in one WaitForMultipleObjects.
#include "platform/pollable_event.h"

#include "platform/win32/win_api.h"

namespace opos::platform {

PollableEvent::PollableEvent() {
  handle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

PollableEvent::~PollableEvent() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

void PollableEvent::Set() {
  std::lock_guard<std::mutex> g(lock_);
  if (set_.exchange(true)) return;
  SetEvent(static_cast<HANDLE>(handle_));
}

void PollableEvent::Reset() {
  std::lock_guard<std::mutex> g(lock_);
  if (!set_.exchange(false)) return;
  ResetEvent(static_cast<HANDLE>(handle_));
}

bool PollableEvent::Wait(int timeoutMs) const {
  if (IsSet()) return true;
  return WaitForInput(-1, {this}, timeoutMs).signalled;
}

}  // namespace opos::platform
