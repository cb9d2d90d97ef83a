// Modal prompts: the stand-in for the Service Objects' dialogs and message
// boxes. The host application may supply its own (the setup tool shows Qt
// dialogs); without one the prompt is a text prompt on the controlling
// terminal, and without a terminal it closes at once, unanswered.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace opos::platform {

struct PromptButton {
  int id;
  std::string text;
  // Pressing it closes the prompt; a button that does not close it runs the
  // prompt's press action and leaves the prompt open for the next press.
  bool closes;
};

struct PromptDialog {
  std::string caption;  // may be empty (a message box without a title)
  std::string text;
  std::vector<PromptButton> buttons;
  // The prompt's own timer: left without an answer this long, it closes by
  // itself. 0 or less: it closes at once.
  int timeoutMs;
};

// What a prompt answers when it closed without a closing button: its timer
// fired, or there was nobody to ask.
inline constexpr int kPromptUnanswered = 0;

using PromptPress = std::function<void(int buttonId)>;

// A host's prompt. Runs on the thread that shows the prompt and returns when
// the prompt closes: the id of the closing button, or kPromptUnanswered.
// Calls onPress (on the same thread) for every press of a button that does
// not close it; onPress may show a further prompt meanwhile.
using PromptHook = std::function<int(const PromptDialog& dialog, const PromptPress& onPress)>;

// Installs the host's prompt for the whole process: every Service Object
// library sees it, although each carries its own copy of this layer (the
// cell lives in the shared library beside the message queues). An empty hook
// brings the terminal prompt back. Any thread.
void SetPromptHook(PromptHook hook);
// The installed hook (empty when none); a copy, safe to call without a lock.
PromptHook CurrentPromptHook();

// The process-wide claim on the one modal check that may run at a time:
// false when another holds it. Any thread.
[[nodiscard]] bool TryBeginModalCheck();
void EndModalCheck();

// Shows a prompt modally on the calling thread: the host's when installed,
// else on the controlling terminal (/dev/tty) when the process runs in its
// foreground, else it closes at once. On Windows without a host's prompt it
// closes at once.
// While it waits, the calling thread's message queue is pumped, as a modal
// dialog's loop dispatches the thread's messages.
int ShowPrompt(const PromptDialog& dialog, const PromptPress& onPress);

#ifndef _WIN32
// The text prompt on an open terminal: writes the caption, text and buttons,
// reads one answer a line (a button's text or its first letter, either case;
// an empty line presses a prompt's only button) and repeats after each
// non-closing press. Closes unanswered on its timer (restarted by each
// answer), at end of input or on hang-up.
int TerminalPrompt(int fd, const PromptDialog& dialog, const PromptPress& onPress);
#endif

}  // namespace opos::platform
