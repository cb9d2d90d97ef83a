// kill -9 of another process (the opos tool) that holds a claimed printer, a
// claimed drawer, or a printer with a queue of jobs under way: the next
// claim succeeds at once, and the printer received only whole jobs.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "opos/cash_drawer.h"
#include "tests/fault_matrix/drawer_env.h"

extern char** environ;

namespace opos::receipt {
namespace {

using namespace std::chrono_literals;

enum class Held { Printer, Drawer, Queue };

struct HolderCase {
  const char* name;
  Held held;
};

std::string JobText(int n) {
  char head[16];
  std::snprintf(head, sizeof head, "L%02d-", n);
  return head + std::string(60, static_cast<char>('a' + n % 26)) + "\n";
}

class KilledHolder : public DrawerEnvironment, public ::testing::WithParamInterface<HolderCase> {
 protected:
  void TearDown() override {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      ::waitpid(child_, nullptr, 0);
    }
    DrawerEnvironment::TearDown();
  }
  // Runs the opos tool on a script; returns its standard output's read end.
  int Spawn(const std::string& cls, const std::string& device, const std::string& script) {
    const std::string file = dir_ + "/holder.txt";
    std::ofstream(file) << script;
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args{OPOS_TOOL, "run", "--class", cls, "--device", device, file};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&child_, OPOS_TOOL, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    return out[0];
  }
  // Reads the tool's JSON lines until one holds `marker`.
  static bool ReadUntil(int fd, const std::string& marker) {
    std::string seen;
    char buf[512];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
      seen.append(buf, static_cast<size_t>(n));
      if (seen.find(marker) != std::string::npos) return true;
    }
    return false;
  }
  pid_t child_ = 0;
};

TEST_P(KilledHolder, NextClaimAtOnceAndOnlyWholeJobs) {
  const Held held = GetParam().held;
  vprinter::PrinterConfig config;
  config.bytesPerSecond = 2000;  // the process-ID model confirms each job once printed
  OpenPrinter("QMT-500", config);
  AddDrawerKey();
  ASSERT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);

  std::string script = "ClaimDevice 1000\nSetPropertyNumber 3 1\n";
  if (held == Held::Queue) {
    script += "SetPropertyNumber 8001 1\n";
    for (int n = 0; n < 30; ++n) script += "PrintNormal 2 \"" + JobText(n).substr(0, 64) + "\\n\"\n";
  }
  script += "GetPropertyNumber 1\nSleep 60000\n";
  const int out = Spawn(held == Held::Drawer ? "CashDrawer" : "POSPrinter",
                        held == Held::Drawer ? "Drawer" : "Receipt", script);
  ASSERT_TRUE(ReadUntil(out, "GetPropertyNumber"));
  ::close(out);
  if (held == Held::Queue) {
    ASSERT_TRUE(vprinter_->WaitForBytes(3 * 64, 10s));  // jobs under way
  }

  ASSERT_EQ(::kill(child_, SIGKILL), 0);
  ASSERT_EQ(::waitpid(child_, nullptr, 0), child_);
  child_ = 0;

  const auto start = std::chrono::steady_clock::now();
  if (held == Held::Drawer) {
    control::CashDrawer drawer;
    ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS);
    EXPECT_EQ(drawer.ClaimDevice(0), OPOS_SUCCESS);
  } else {
    EXPECT_EQ(printer.ClaimDevice(0), OPOS_SUCCESS);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

  // Whatever of the dead process's jobs arrived, arrived whole, but the one
  // it was writing when killed: the port writes a job in 64-byte pieces, and
  // the kill may fall between two of them.
  const std::string got = Captured();
  int last = -1;
  for (int n = 0; n < 30; ++n) {
    if (got.find(JobText(n).substr(0, 4)) != std::string::npos) last = n;
  }
  for (int n = 0; n < last; ++n) {
    EXPECT_NE(got.find(JobText(n)), std::string::npos) << "cut: " << JobText(n).substr(0, 4);
  }
}

INSTANTIATE_TEST_SUITE_P(Holders, KilledHolder,
                         ::testing::Values(HolderCase{"ClaimedPrinter", Held::Printer},
                                           HolderCase{"ClaimedDrawer", Held::Drawer},
                                           HolderCase{"QueueOfJobs", Held::Queue}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace opos::receipt
