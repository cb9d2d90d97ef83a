// The vprinter program as a shell user drives it: ready line, link, capture file,
// control FIFO (grammar included), signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "tests/vprinter/pty_client.h"

using namespace vprinter_test;
using namespace std::chrono_literals;

extern char** environ;

namespace {

const std::string kProgram = std::string(OPOS_BUILD_DIR) + "/tools/vprinter/vprinter";

// A started vprinter with its standard output and error on pipes.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    args.insert(args.begin(), kProgram);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, kProgram.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    // glibc's pidfd_open declaration lacks C linkage in some releases; call it directly.
    if (pid_ > 0) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~Program() {
    if (pid_ > 0 && exitCode_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, pidfd_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  bool Started() const { return pid_ > 0 && pidfd_ >= 0; }
  pid_t Pid() const { return pid_; }

  // One line of standard output, without its newline; empty after the time limit.
  std::string ReadLine(std::chrono::milliseconds limit = 10s) { return LineFrom(out_, outBuf_, limit); }
  std::string ReadErrLine(std::chrono::milliseconds limit = 10s) { return LineFrom(err_, errBuf_, limit); }

  // Exit code once the process has ended within the limit; -1 otherwise.
  int WaitExit(std::chrono::milliseconds limit = 10s) {
    pollfd p{pidfd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) != 1) return -1;
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitCode_;
  }

 private:
  static constexpr int kRunning = -1000;
  static std::string LineFrom(int fd, std::string& buf, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const size_t nl = buf.find('\n');
      if (nl != std::string::npos) {
        std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[256];
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) return {};
      buf.append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int out_ = -1;
  int err_ = -1;
  int exitCode_ = kRunning;
  std::string outBuf_, errBuf_;
};

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void SendControl(const std::string& fifo, const std::string& line) {
  std::ofstream(fifo) << line << '\n';
}

}  // namespace

TEST(VprinterProgram, DrivenFromTheShellWayEndToEnd) {
  TempDir dir;
  const std::string link = dir.File("printer"), capture = dir.File("capture.bin"), fifo = dir.File("control");
  Program prog({"--link", link, "--capture", capture, "--control", fifo, "--drawer-auto-close", "60000"});
  ASSERT_TRUE(prog.Started());
  const std::string ready = prog.ReadLine();
  ASSERT_EQ(ready.rfind("ready /dev/pts/", 0), 0u) << ready;
  char target[128] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(ready.substr(6), target);

  PtyClient host(link);
  ASSERT_TRUE(host.Ok());
  ASSERT_TRUE(host.ConfigureLikeSerialPort());
  const Bytes sent = Cat({Text("Hello\n"), Hex("1D 61 FF")});
  ASSERT_TRUE(host.WriteAll(sent));
  EXPECT_EQ(host.ReadN(4), Hex("14 00 00 00"));

  SendControl(fifo, "cover open");
  EXPECT_EQ(host.ReadN(4), Hex("3C 00 00 00"));
  SendControl(fifo, "  drawer   open ");
  EXPECT_EQ(host.ReadN(4), Hex("38 00 00 00"));
  SendControl(fifo, "bogus");
  EXPECT_NE(prog.ReadErrLine().find("unknown control command \"bogus\""), std::string::npos);
  SendControl(fifo, "status");
  const std::string status = prog.ReadLine();
  EXPECT_NE(status.find("cover=open"), std::string::npos) << status;
  EXPECT_NE(status.find("drawer=open"), std::string::npos) << status;

  SendControl(fifo, "power off");
  SendControl(fifo, "status");
  EXPECT_NE(prog.ReadLine().find("power=off"), std::string::npos);
  ASSERT_TRUE(host.WriteAll(Hex("10 04 01")));
  EXPECT_TRUE(host.ReadN(1, 300ms).empty()) << "a switched-off printer does not answer";

  std::ifstream in(capture, std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), sent);

  ASSERT_EQ(::kill(prog.Pid(), SIGTERM), 0);
  EXPECT_EQ(prog.WaitExit(), 0);
  EXPECT_FALSE(Exists(link));
  EXPECT_FALSE(Exists(fifo));
}

TEST(VprinterProgram, RejectsBadArgumentsWithAMessage) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {{}, 2, "--link PATH is required"},
      {{"--link", dir.File("p"), "--bytes-per-second", "fast"}, 2, "--bytes-per-second"},
      {{"--link", dir.File("p"), "--asb-at-power-on", "256"}, 2, "--asb-at-power-on"},
      {{"--link", dir.File("p"), "--drawer-pins", "3"}, 2, "--drawer-pins"},
      {{"--link", dir.File("p"), "--bytes-per-second", "10", "--lines-per-second", "2"}, 2, "not both"},
      {{"--link", dir.File("p"), "extra"}, 2, "unexpected argument"},
  };
  for (const Case& c : cases) {
    Program prog(c.args);
    ASSERT_TRUE(prog.Started());
    EXPECT_NE(prog.ReadErrLine().find(c.message), std::string::npos) << c.message;
    EXPECT_EQ(prog.WaitExit(), c.code) << c.message;
  }
}

TEST(VprinterProgram, SigintStopsItAndControlPathMustBeAFifo) {
  TempDir dir;
  const std::string link = dir.File("printer"), notFifo = dir.File("plain");
  std::ofstream(notFifo) << "x";
  Program refused({"--link", link, "--control", notFifo});
  ASSERT_TRUE(refused.Started());
  EXPECT_NE(refused.ReadErrLine().find("is not a FIFO"), std::string::npos);
  EXPECT_EQ(refused.WaitExit(), 1);
  EXPECT_FALSE(Exists(link));

  Program prog({"--link", link});
  ASSERT_TRUE(prog.Started());
  ASSERT_EQ(prog.ReadLine().rfind("ready ", 0), 0u);
  ASSERT_EQ(::kill(prog.Pid(), SIGINT), 0);
  EXPECT_EQ(prog.WaitExit(), 0);
  EXPECT_FALSE(Exists(link));
}
