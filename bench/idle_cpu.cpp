// CPU used by a claimed, enabled, idle printer and cash drawer that share one
// port of libserialso.so, over 10 s of an application waiting in its event
// loop. The virtual printer runs as its own process (the built vprinter
// program), so every CPU second counted here is the Service Objects' own.
//
// Usage: bench_idle_cpu [SECONDS]   (default 10)
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/serialso_rig.h"
#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/registry_store.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace opos;

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "bench_idle_cpu: %s\n", what.c_str());
  return 1;
}

// The vprinter program on a pseudo-terminal behind `link`; waits for its
// "ready" line. Returns its pid, or -1.
pid_t StartVprinter(const std::string& link) {
  int out[2];
  if (::pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = OPOS_BUILD_DIR "/tools/vprinter/vprinter";
  std::string linkArg = link;
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("--link"), linkArg.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return -1;
  }
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  if (line.rfind("ready ", 0) != 0) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

int Run(const std::string& dir, int seconds, pid_t* vprinter) {
  ::setenv("OPOS_REGISTRY", (dir + "/registry.db").c_str(), 1);
  std::string error;
  auto store = reg::Store::Open(dir + "/registry.db", &error);
  if (!store) return Fail("registry: " + error);
  if (const std::string failed = bench::RegisterSerialSo(); !failed.empty()) return Fail(failed);

  const std::string link = dir + "/printer";
  *vprinter = StartVprinter(link);
  if (*vprinter < 0) return Fail("cannot start " OPOS_BUILD_DIR "/tools/vprinter/vprinter");
  if (!bench::AddSerialDevice(*store, false, link) || !bench::AddSerialDevice(*store, true, link))
    return Fail("cannot write the device keys");

  control::POSPrinter printer;
  control::CashDrawer drawer;
  if (printer.Open("Printer1") != OPOS_SUCCESS) return Fail("printer Open: " + printer.LastErrorText());
  if (printer.ClaimDevice(1000) != OPOS_SUCCESS) return Fail("printer ClaimDevice failed");
  printer.SetDeviceEnabled(true);
  if (printer.ResultCode() != OPOS_SUCCESS) return Fail("printer DeviceEnabled failed");
  if (drawer.Open("Drawer1") != OPOS_SUCCESS) return Fail("drawer Open: " + drawer.LastErrorText());
  if (drawer.ClaimDevice(1000) != OPOS_SUCCESS) return Fail("drawer ClaimDevice failed");
  drawer.SetDeviceEnabled(true);
  if (drawer.ResultCode() != OPOS_SUCCESS) return Fail("drawer DeviceEnabled failed");

  // Let the enabling's status reports and events go by first.
  printer.PumpEvents(1000);

  rusage before{}, after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  // The application waits in its event loop, delivering whatever comes.
  printer.PumpEvents(seconds * 1000);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::getrusage(RUSAGE_SELF, &after);

  const double user = Seconds(after.ru_utime) - Seconds(before.ru_utime);
  const double system = Seconds(after.ru_stime) - Seconds(before.ru_stime);
  const double cpu = user + system;
  std::printf("idle claimed+enabled printer and drawer on one serial port (libserialso.so):\n");
  std::printf("  %.1f ms CPU in %.2f s = %.3f %% of one core\n", cpu * 1000.0, wall, 100.0 * cpu / wall);
  std::printf("  (user %.1f ms, system %.1f ms; the virtual printer's own process not counted)\n",
              user * 1000.0, system * 1000.0);

  drawer.ReleaseDevice();
  drawer.Close();
  printer.ReleaseDevice();
  printer.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  if (seconds <= 0) return Fail("SECONDS must be a positive number");
  char tmpl[] = "/tmp/opos-idle-cpu-XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) return Fail(std::string("mkdtemp: ") + std::strerror(errno));
  const std::string dir = tmpl;
  pid_t vprinter = -1;
  const int rc = Run(dir, seconds, &vprinter);
  if (vprinter > 0) {
    ::kill(vprinter, SIGTERM);
    ::waitpid(vprinter, nullptr, 0);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return rc;
}
