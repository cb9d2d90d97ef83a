// Soak: numbered asynchronous jobs and drawer cycles on one serial port for a
// while, with cover and paper faults struck at random through the virtual
// printer and Error events answered at random with retry or clear. Checked in
// rounds (the queue drained, the capture compared, then cleared so memory
// stays flat): every job completed once or was dropped by a clear, every
// completed job reached the printer whole and in order, a job printed twice
// was one an Error retried; at the end fds, threads and resident memory are
// as at the start. Exits 1 on any breach.
//   opos_soak SECONDS [SEED]
#include <dirent.h>
#include <dlfcn.h>
#include <poll.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/com_registry.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace {

using namespace std::chrono_literals;
using namespace opos;
using Clock = std::chrono::steady_clock;

int breaches = 0;
void Breach(const std::string& what) {
  ++breaches;
  if (breaches <= 20) std::fprintf(stderr, "BREACH: %s\n", what.c_str());
}

struct Usage {
  int fds = 0, threads = 0;
  long rssKb = 0;
};
Usage Sample() {
  Usage u;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) (void)e, ++u.fds;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) u.threads = std::stoi(line.substr(8));
    if (line.rfind("VmRSS:", 0) == 0) u.rssKb = std::stol(line.substr(6));
  }
  return u;
}

size_t Occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

bool Setup(const std::string& dir, std::string* error) {
  setenv("OPOS_REGISTRY", (dir + "/registry.db").c_str(), 1);
  auto store = opos::reg::Store::Open(dir + "/registry.db", error);
  if (!store) return false;
  void* lib = dlopen(OPOS_BUILD_DIR "/service/libserialso.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return *error = dlerror(), false;
  auto reg = reinterpret_cast<opos::com::DllRegisterServerFn>(dlsym(lib, "DllRegisterServer"));
  if (!reg || reg() != opos::com::S_OK) return *error = "DllRegisterServer failed", false;
  dlclose(lib);
  using opos::reg::Root;
  for (bool drawer : {false, true}) {
    const std::string key = std::string("SOFTWARE\\OLEforRetail\\ServiceOPOS\\") +
                            (drawer ? "CashDrawer\\Drawer" : "POSPrinter\\Receipt");
    auto sz = [&](const char* n, const std::string& v) {
      store->SetValue(Root::LocalMachine, key, {n, opos::reg::REG_SZ, opos::reg::SzData(v)});
    };
    auto dw = [&](const char* n, uint32_t v) {
      store->SetValue(Root::LocalMachine, key, {n, opos::reg::REG_DWORD, opos::reg::DwordData(v)});
    };
    store->CreateKey(Root::LocalMachine, key);
    sz("", drawer ? "KELVORA.CashDrawer.SO" : "KELVORA.RecPrinter.SO");
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0},
                        {"ConnectorPinNo", 2},
                        {"OpenLevel", 1}}) {
      dw(n, v);
    }
    sz("Port", dir + "/printer");
    sz("DeviceName", drawer ? "StandardCash" : "QMT500");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : std::random_device{}();
  char tmpl[] = "/tmp/opos-soak-XXXXXX";
  if (!mkdtemp(tmpl)) return 2;
  const std::string dir = tmpl;
  std::string error;
  if (!Setup(dir, &error)) return std::fprintf(stderr, "setup: %s\n", error.c_str()), 2;

  vprinter::VirtualPrinterOptions options;
  options.linkPath = dir + "/printer";
  options.printer.drawerAutoClose = 30ms;
  vprinter::VirtualPrinter vp(options);
  if (!vp.Start(&error)) return std::fprintf(stderr, "vprinter: %s\n", error.c_str()), 2;

  std::mt19937 rng(seed);
  opos::control::POSPrinter printer;
  opos::control::CashDrawer drawer;
  std::map<int32_t, int> completes;            // OutputID -> OutputComplete events
  std::map<int32_t, std::string> outstanding;  // submitted, not yet completed
  std::set<int32_t> clearable, retried;        // outstanding when a clear / a retry was answered
  long jobs = 0, completed = 0, cleared = 0, errors = 0, retries = 0, faults = 0, drawerCycles = 0,
       kicksWanted = 0;

  printer.OnOutputComplete([&](int32_t id) {
    if (++completes[id] > 1) Breach("OutputComplete twice for " + std::to_string(id));
    if (!outstanding.count(id)) Breach("OutputComplete for unknown " + std::to_string(id));
  });
  printer.OnError([&](int32_t, int32_t, int32_t, int32_t& response) {
    ++errors;
    const bool retry = rng() % 4 != 0;
    response = retry ? OPOS_ER_RETRY : OPOS_ER_CLEAR;
    // The Error belongs to the oldest job not yet completed; a clear drops that one.
    for (const auto& [id, text] : outstanding) {
      if (completes.count(id) || clearable.count(id)) continue;
      (retry ? retried : clearable).insert(id);
      break;
    }
    retry ? ++retries : 0;
  });
  if (printer.Open("Receipt") != OPOS_SUCCESS || printer.ClaimDevice(1000) != OPOS_SUCCESS) return 2;
  printer.SetDeviceEnabled(true);
  printer.SetAsyncMode(true);
  if (drawer.Open("Drawer") != OPOS_SUCCESS || drawer.ClaimDevice(1000) != OPOS_SUCCESS) return 2;
  drawer.SetDeviceEnabled(true);

  auto pump = [&](int ms) {
    pollfd p{printer.EventFd(), POLLIN, 0};
    if (::poll(&p, 1, ms) == 1) printer.DispatchEvents();
  };

  // Faults from a thread of their own: a cover or the paper, held a while, mended.
  std::atomic<bool> faultsOn{false}, stop{false};
  std::atomic<long> faultCount{0};
  std::thread faulter([&] {
    std::mt19937 r(seed + 1);
    while (!stop.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200 + r() % 800));
      if (!faultsOn.load()) continue;
      const bool cover = r() % 2 == 0;
      cover ? vp.SetCoverOpen(true) : vp.SetPaperEnd(true);
      ++faultCount;
      std::this_thread::sleep_for(std::chrono::milliseconds(50 + r() % 400));
      cover ? vp.SetCoverOpen(false) : vp.SetPaperEnd(false);
    }
  });

  auto openJobs = [&] {
    size_t n = 0;
    for (const auto& [id, text] : outstanding) n += !completes.count(id) && !clearable.count(id);
    return n;
  };
  Usage start{};
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  for (int round = 0; Clock::now() < end || round < 2; ++round) {
    faultsOn.store(true);
    // A round: up to 40 jobs, never more than 8 waiting, a drawer cycle now and then.
    for (int k = 0; k < 40; ++k) {
      const auto waitBy = Clock::now() + 30s;
      while (openJobs() >= 8 && Clock::now() < waitBy) pump(20);
      char head[32];
      std::snprintf(head, sizeof head, "J%08ld:", jobs);
      const std::string text =
          head + std::string(10 + rng() % 120, static_cast<char>('a' + jobs % 26)) + "\n";
      if (printer.PrintNormal(PTR_S_RECEIPT, text) == OPOS_SUCCESS) {
        outstanding[printer.OutputID()] = text;
        ++jobs;
      }
      if (rng() % 10 == 0) {
        ++drawerCycles;
        if (drawer.OpenDrawer() == OPOS_SUCCESS) ++kicksWanted;
      }
      pump(0);
    }
    // Drain: faults off and mended, the queue idle.
    faultsOn.store(false);
    const auto drainBy = Clock::now() + 30s;
    while (Clock::now() < drainBy) {
      pump(20);
      if (vp.Status().coverOpen || vp.Status().paperEnd) continue;
      if (openJobs() == 0) break;
    }
    if (openJobs() != 0) Breach("jobs still open after 30 s in round " + std::to_string(round));
    // Beside a busy or faulted printer the drawer may refuse (above); beside
    // the quiet one it must open, and is shut by hand before the next round.
    ++drawerCycles;
    if (drawer.OpenDrawer() == OPOS_SUCCESS) {
      ++kicksWanted;
      const auto kickBy = Clock::now() + 5s;
      while (vp.DrawerKicks() < static_cast<uint32_t>(kicksWanted) && Clock::now() < kickBy) pump(20);
      vp.CloseDrawer();
      while (drawer.DrawerOpened() && Clock::now() < kickBy + 5s) pump(20);
    } else {
      Breach("OpenDrawer refused beside the quiet printer in round " + std::to_string(round));
    }
    // Account for the round against what the printer received.
    const auto c = vp.Capture();
    const std::string got(c.begin(), c.end());
    size_t last = 0;
    for (const auto& [id, text] : outstanding) {
      const size_t n = Occurrences(got, text);
      if (completes.count(id)) {
        ++completed;
        if (n == 0) Breach("completed but not printed: " + text);
        if (n > 1 && !retried.count(id)) Breach("printed twice without a retry: " + text);
        const size_t at = got.find(text);
        if (at != std::string::npos && at < last && !retried.count(id)) Breach("out of order: " + text);
        if (at != std::string::npos) last = at;
      } else if (clearable.count(id)) {
        ++cleared;
      } else {
        Breach("neither completed nor cleared: " + text);
      }
    }
    outstanding.clear();
    completes.clear();
    clearable.clear();
    retried.clear();
    vp.ClearCapture();
    if (round == 1) start = Sample();  // after warm-up: caches, threads and the first allocations
  }
  stop.store(true);
  faulter.join();
  faults = faultCount.load();
  const uint32_t kicks = vp.DrawerKicks();
  if (kicks != static_cast<uint32_t>(kicksWanted)) {
    Breach("drawer kicks " + std::to_string(kicks) + " != accepted OpenDrawer " +
           std::to_string(kicksWanted));
  }
  const Usage finish = Sample();
  if (finish.fds > start.fds) Breach("fds grew");
  if (finish.threads > start.threads) Breach("threads grew");
  if (finish.rssKb > start.rssKb + std::max(8192L, start.rssKb / 4)) Breach("resident memory grew");
  std::printf(
      "soak %d s seed %u: jobs %ld completed %ld cleared %ld errors %ld retries %ld faults %ld drawer cycles "
      "%ld "
      "kicks %u\nfds %d -> %d, threads %d -> %d, rss %ld kB -> %ld kB, breaches %d\n",
      seconds, seed, jobs, completed, cleared, errors, retries, faults, drawerCycles, kicks, start.fds,
      finish.fds, start.threads, finish.threads, start.rssKb, finish.rssKb, breaches);
  drawer.Close();
  printer.Close();
  vp.Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return breaches == 0 ? 0 : 1;
}
