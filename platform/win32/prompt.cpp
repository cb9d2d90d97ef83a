#include "platform/prompt.h"

namespace opos::platform {

int ShowPrompt(const PromptDialog& dialog, const PromptPress& onPress) {
  if (PromptHook hook = CurrentPromptHook()) return hook(dialog, onPress);
  // Without the host's prompt nobody is asked: the prompt closes as its
  // timer would.
  return kPromptUnanswered;
}

}  // namespace opos::platform
