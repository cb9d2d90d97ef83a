#include "platform/prompt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <string_view>

#include "platform/message_queue.h"

namespace opos::platform {
namespace {

using Clock = std::chrono::steady_clock;

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string Trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The button an answer line names, or nullptr.
const PromptButton* ButtonFor(const PromptDialog& dialog, const std::string& answer) {
  if (answer.empty()) return dialog.buttons.size() == 1 ? &dialog.buttons.front() : nullptr;
  for (const PromptButton& b : dialog.buttons) {
    if (SameText(answer, b.text)) return &b;
  }
  if (answer.size() == 1) {
    for (const PromptButton& b : dialog.buttons) {
      if (!b.text.empty() && SameText(answer, b.text.substr(0, 1))) return &b;
    }
  }
  return nullptr;
}

std::string ButtonLine(const PromptDialog& dialog) {
  std::string line;
  for (const PromptButton& b : dialog.buttons) line += "[" + b.text + "] ";
  return line + "> ";
}

}  // namespace

int TerminalPrompt(int fd, const PromptDialog& dialog, const PromptPress& onPress) {
  if (dialog.timeoutMs <= 0 || dialog.buttons.empty()) return kPromptUnanswered;
  std::string head = "\n";
  if (!dialog.caption.empty()) head += dialog.caption + "\n";
  head += dialog.text + "\n";
  if (!WriteAll(fd, head + ButtonLine(dialog))) return kPromptUnanswered;

  const int queueFd = MessageQueue::ForCurrentThread()->Fd();
  auto deadline = Clock::now() + std::chrono::milliseconds(dialog.timeoutMs);
  std::string pending;
  for (;;) {
    // Whole lines first: one read may bring several answers.
    const size_t end = pending.find_first_of("\r\n");
    if (end != std::string::npos) {
      const std::string answer = Trimmed(std::string_view(pending).substr(0, end));
      // A raw-mode terminal ends lines with CR, or CR LF: one answer.
      const bool crlf = pending[end] == '\r' && end + 1 < pending.size() && pending[end + 1] == '\n';
      pending.erase(0, end + (crlf ? 2 : 1));
      const PromptButton* button = ButtonFor(dialog, answer);
      if (!button) {
        if (!WriteAll(fd, ButtonLine(dialog))) return kPromptUnanswered;
        continue;
      }
      if (button->closes) return button->id;
      if (onPress) onPress(button->id);
      if (!WriteAll(fd, ButtonLine(dialog))) return kPromptUnanswered;
      deadline = Clock::now() + std::chrono::milliseconds(dialog.timeoutMs);
      continue;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p[2] = {{fd, POLLIN, 0}, {queueFd, POLLIN, 0}};
    const int ready = ::poll(p, queueFd >= 0 ? 2 : 1, static_cast<int>(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (queueFd >= 0 && (p[1].revents & POLLIN)) MessageQueue::ForCurrentThread()->Dispatch();
    if (p[0].revents & POLLIN) {
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;  // end of input or a vanished terminal
      pending.append(buffer, static_cast<size_t>(n));
    } else if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      break;
    }
  }
  (void)WriteAll(fd, "\n");
  return kPromptUnanswered;
}

int ShowPrompt(const PromptDialog& dialog, const PromptPress& onPress) {
  if (PromptHook hook = CurrentPromptHook()) return hook(dialog, onPress);
  // No controlling terminal (a service, a test run, a daemon): nobody can
  // answer, so the prompt closes as its timer would.
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return kPromptUnanswered;
  // A background job that read the terminal would be stopped (SIGTTIN)
  // until someone brought it forward: that counts as nobody to ask.
  if (::tcgetpgrp(fd) != ::getpgrp()) {
    ::close(fd);
    return kPromptUnanswered;
  }
  const int answer = TerminalPrompt(fd, dialog, onPress);
  ::close(fd);
  return answer;
}

}  // namespace opos::platform
