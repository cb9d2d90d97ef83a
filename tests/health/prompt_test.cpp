// The text prompt on a terminal: against a pseudo-terminal directly, and
// through ShowPrompt in a child whose controlling terminal it is.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/message_queue.h"
#include "platform/prompt.h"

namespace opos::platform {
namespace {

using Clock = std::chrono::steady_clock;

const PromptDialog kHealthDialog{"CheckHealth",
                                 "Please Push the [Start] button to start the CheckHealth Method.",
                                 {{1000, "Start", false}, {1001, "Close", true}},
                                 10000};

class Pty {
 public:
  Pty() {
    EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  }
  ~Pty() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
  void Type(const std::string& s) const {
    ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size()));
  }
  // Reads what the prompt wrote until it holds `needle` `times` times (or 10 s pass).
  std::string ReadUntil(const std::string& needle, size_t times = 1) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Count(needle) < times && Clock::now() < deadline) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 100) == 1 && (p.revents & POLLIN)) {
        char b[512];
        const ssize_t n = ::read(master, b, sizeof b);
        if (n > 0) seen.append(b, static_cast<size_t>(n));
      }
    }
    return seen;
  }
  size_t Count(const std::string& needle) const {
    size_t n = 0;
    for (size_t at = seen.find(needle); at != std::string::npos; at = seen.find(needle, at + 1)) ++n;
    return n;
  }
  int master = -1;
  int slave = -1;
  std::string seen;
};

TEST(TerminalPrompt, ShowsTheTextsAndTakesRepeatedStartsThenClose) {
  Pty pty;
  // Answers typed ahead: a button's name, its letter in either case, noise.
  pty.Type("start\nS\nmaybe\nclose\nstart\n");
  std::vector<int> presses;
  const int answer = TerminalPrompt(pty.slave, kHealthDialog, [&](int id) { presses.push_back(id); });
  EXPECT_EQ(answer, 1001);
  EXPECT_EQ(presses, (std::vector<int>{1000, 1000}));  // nothing after Close
  const std::string out = pty.ReadUntil("[Start] [Close] > ", 4);
  EXPECT_NE(out.find("CheckHealth\r\nPlease Push the [Start] button to start the CheckHealth Method.\r\n"),
            std::string::npos)
      << out;
  // Once at the start, after each Start and after the unknown answer.
  EXPECT_EQ(pty.Count("[Start] [Close] > "), 4u) << out;
}

TEST(TerminalPrompt, MessageBoxTakesAnEmptyLineAsItsOnlyButton) {
  Pty pty;
  pty.Type("\r\n");
  const PromptDialog box{"", "POSPrinter can't use.\nResultCode : 114", {{1, "OK", true}}, 10000};
  EXPECT_EQ(TerminalPrompt(pty.slave, box, nullptr), 1);
  const std::string out = pty.ReadUntil("[OK] > ");
  EXPECT_NE(out.find("POSPrinter can't use.\r\nResultCode : 114\r\n[OK] > "), std::string::npos) << out;
}

TEST(TerminalPrompt, ClosesUnansweredOnItsTimerRestartedByEachAnswer) {
  Pty pty;
  PromptDialog dialog = kHealthDialog;
  dialog.timeoutMs = 300;
  int presses = 0;
  // Like a modal dialog's loop, the prompt runs the thread's messages (the
  // Service Objects' events) while it waits.
  bool messageRan = false;
  MessageQueue::ForCurrentThread()->Post([&] { messageRan = true; });
  auto start = Clock::now();
  EXPECT_EQ(TerminalPrompt(pty.slave, dialog, [&](int) { ++presses; }), kPromptUnanswered);
  EXPECT_TRUE(messageRan);
  auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(290));
  EXPECT_LT(took, std::chrono::seconds(5));

  // A press restarts the timer; the prompt then closes unanswered again.
  pty.Type("s\n");
  start = Clock::now();
  EXPECT_EQ(TerminalPrompt(pty.slave, dialog, [&](int) { ++presses; }), kPromptUnanswered);
  EXPECT_EQ(presses, 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));

  dialog.timeoutMs = 0;
  pty.Type("s\n");
  EXPECT_EQ(TerminalPrompt(pty.slave, dialog, [&](int) { ++presses; }), kPromptUnanswered);
  EXPECT_EQ(presses, 1);
}

TEST(TerminalPrompt, HangUpClosesItAtOnce) {
  Pty pty;
  ::close(pty.master);
  pty.master = -1;
  const auto start = Clock::now();
  EXPECT_EQ(TerminalPrompt(pty.slave, kHealthDialog, nullptr), kPromptUnanswered);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));  // not the 10 s timer
}

// Runs the prompt child in a session of its own; returns what it printed.
std::string RunChild(const std::string& terminal, const std::function<void()>& meanwhile) {
  char tmpl[] = "/tmp/opos-prompt-child-XXXXXX";
  const int out = ::mkstemp(tmpl);
  EXPECT_GE(out, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::string path = OPOS_PROMPT_CHILD;
  char* argv[] = {path.data(), const_cast<char*>(terminal.c_str()), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  meanwhile();
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  ::close(out);
  std::ifstream in(tmpl);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(tmpl);
  return text.str();
}

TEST(ShowPrompt, WithoutAHookAsksOnTheControllingTerminal) {
  Pty pty;
  const std::string result = RunChild(::ptsname(pty.master), [&] {
    pty.ReadUntil("[Start] [Close] > ");
    pty.Type("Start\n");
    pty.ReadUntil("[Start] [Close] > ", 2);
    pty.Type("Close\n");
  });
  EXPECT_NE(pty.seen.find("Please Push the [Start] button to start the CheckHealth Method."),
            std::string::npos);
  EXPECT_EQ(result.substr(0, result.find(" ms=")), "answer=1001 presses=1") << result;
}

TEST(ShowPrompt, AnInstalledHookAnswersInsteadOfTheTerminal) {
  std::vector<std::string> captions;
  SetPromptHook([&](const PromptDialog& d, const PromptPress& press) {
    captions.push_back(d.caption);
    press(1000);
    return 1001;
  });
  int presses = 0;
  EXPECT_EQ(ShowPrompt(kHealthDialog, [&](int id) { presses += id == 1000; }), 1001);
  SetPromptHook({});
  EXPECT_FALSE(CurrentPromptHook());
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(captions, std::vector<std::string>{"CheckHealth"});
  // This process has no terminal (see main): with the hook gone, closed at once.
  EXPECT_EQ(ShowPrompt(kHealthDialog, [&](int) { ++presses; }), kPromptUnanswered);
  EXPECT_EQ(presses, 1);
}

}  // namespace
}  // namespace opos::platform
