// The prompt hook's cell and the modal-check claim: built into the shared
// message-queue library so that the host and every Service Object library
// see one instance.
#include <atomic>
#include <memory>
#include <mutex>

#include "platform/prompt.h"

namespace opos::platform {
namespace {

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}
PromptHook& HookCell() {
  static PromptHook hook;
  return hook;
}
std::atomic<bool> modalCheckRunning{false};

}  // namespace

void SetPromptHook(PromptHook hook) {
  std::lock_guard<std::mutex> g(HookLock());
  HookCell() = std::move(hook);
}

PromptHook CurrentPromptHook() {
  std::lock_guard<std::mutex> g(HookLock());
  return HookCell();
}

bool TryBeginModalCheck() {
  return !modalCheckRunning.exchange(true);
}

void EndModalCheck() {
  modalCheckRunning.store(false);
}

}  // namespace opos::platform
