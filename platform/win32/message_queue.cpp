// The per-thread queue on the thread's own Windows message loop: a
// message-only window of the owning thread receives one posted message per
// wake-up, and any loop that dispatches the thread's messages (PumpWait, a
// modal dialog, the application's own loop) runs the queued messages.
#include "platform/message_queue.h"

#include "platform/win32/win_api.h"

namespace opos::platform {

namespace {

constexpr UINT kRunQueued = WM_APP + 0x4F50;  // "OP"
constexpr const char* kWindowClass = "OposMessageQueue";

LRESULT CALLBACK QueueWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunQueued) {
    auto* queue = reinterpret_cast<MessageQueue*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (queue) queue->Dispatch();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&QueueWindowProc), &module);
  return module;
}

}  // namespace

MessageQueue::MessageQueue() {
  static const ATOM windowClass = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = QueueWindowProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    return RegisterClassExA(&wc);
  }();
  HWND window = windowClass ? CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                              ThisModule(), nullptr)
                            : nullptr;
  if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_ = window;
}

MessageQueue::~MessageQueue() {
  HWND window = static_cast<HWND>(window_);
  if (!window) return;
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  // Only the owning thread may destroy its window; after that thread ends the
  // system has destroyed it already.
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) DestroyWindow(window);
}

std::shared_ptr<MessageQueue> MessageQueue::ForCurrentThread() {
  thread_local std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  return queue;
}

void MessageQueue::Post(std::function<void()> message) {
  bool wake;
  {
    std::lock_guard<std::mutex> g(lock_);
    wake = messages_.empty();
    messages_.push_back(std::move(message));
  }
  // One window message per batch: Dispatch takes everything queued so far.
  if (wake && window_) PostMessageA(static_cast<HWND>(window_), kRunQueued, 0, 0);
}

size_t MessageQueue::Dispatch() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> g(lock_);
    batch.swap(messages_);
  }
  for (auto& m : batch) m();
  return batch.size();
}

size_t MessageQueue::Pending() const {
  std::lock_guard<std::mutex> g(lock_);
  return messages_.size();
}

void MessageQueue::PumpFor(int timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // Messages that a window of another module's copy missed are still run.
    Dispatch();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void PumpWait(int ms) {
  MessageQueue::ForCurrentThread()->PumpFor(ms);
}

}  // namespace opos::platform
