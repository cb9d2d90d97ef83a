// Open and Close of a POS printer and a cash drawer through the Control Objects
// (libserialso.so, a temporary registry): the registry lookup, the library load
// by ProgID and the Service Object's configuration read, no port. Run under
//   valgrind --tool=callgrind --toggle-collect='*ControlObject::Impl::Open*'
// for a count that other work on the machine does not move.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/serialso_rig.h"
#include "common/opos.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/registry_store.h"

namespace opos {
namespace {

using Clock = std::chrono::steady_clock;

// A temporary registry holding libserialso.so's classes, Printer1 and Drawer1.
class Registry {
 public:
  Registry() {
    char tmpl[] = "/tmp/opos-bench-open-XXXXXX";
    dir_ = ::mkdtemp(tmpl) ? tmpl : "";
    if (dir_.empty()) {
      error_ = "mkdtemp failed";
      return;
    }
    ::setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    auto store = reg::Store::Open(dir_ + "/registry.db", &error_);
    if (!store) return;
    error_ = bench::RegisterSerialSo();
    if (error_.empty() &&
        (!bench::AddSerialDevice(*store, false, "COM1") || !bench::AddSerialDevice(*store, true, "COM1")))
      error_ = "cannot write the device keys";
  }
  ~Registry() {
    ::unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& Error() const { return error_; }

 private:
  std::string dir_;
  std::string error_;
};

template <class Device>
void OpenClose(benchmark::State& state, const char* name) {
  Registry registry;
  if (!registry.Error().empty()) {
    state.SkipWithError(registry.Error().c_str());
    return;
  }
  Device device;
  std::vector<double> us;
  for (auto _ : state) {
    const auto start = Clock::now();
    const int32_t rc = device.Open(name);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    device.Close();
    if (rc != OPOS_SUCCESS) {
      state.SkipWithError("Open failed");
      return;
    }
  }
  std::sort(us.begin(), us.end());
  state.counters["open_median_us"] = us[us.size() / 2];
  state.counters["open_p90_us"] = us[us.size() * 9 / 10];
}

void BM_OpenClosePrinter(benchmark::State& state) {
  OpenClose<control::POSPrinter>(state, "Printer1");
}
void BM_OpenCloseDrawer(benchmark::State& state) {
  OpenClose<control::CashDrawer>(state, "Drawer1");
}
BENCHMARK(BM_OpenClosePrinter)->Iterations(300)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCloseDrawer)->Iterations(300)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace opos

BENCHMARK_MAIN();
