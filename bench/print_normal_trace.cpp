// PrintNormal through the Control Object (libserialso.so against the virtual
// printer on a pseudo-terminal) with the field trace off and on: what the trace
// costs a call. Arg 0 traces nothing, arg 1 traces to a file (OPOS_TRACE).
// For a count that other work on the machine does not move, run it under
//   valgrind --tool=callgrind --toggle-collect='*POSPrinter::PrintNormal*'
// with --benchmark_filter=.../0 and .../1.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/serialso_rig.h"
#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/pos_printer.h"
#include "platform/registry_store.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos {
namespace {

using Clock = std::chrono::steady_clock;

// A claimed, enabled printer of libserialso.so on a fresh virtual printer, in a
// temporary registry; traced to a file in the same directory when asked.
class Rig {
 public:
  explicit Rig(bool traced) { error_ = Start(traced); }
  ~Rig() {
    printer_.ReleaseDevice();
    printer_.Close();
    vprinter_.reset();
    ::unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  const std::string& Error() const { return error_; }
  control::POSPrinter& Printer() { return printer_; }
  uintmax_t TraceBytes() const {
    std::error_code ec;
    const auto n = std::filesystem::file_size(dir_ + "/trace.log", ec);
    return ec ? 0 : n;
  }

 private:
  // Empty on success, else what failed.
  std::string Start(bool traced) {
    char tmpl[] = "/tmp/opos-bench-trace-XXXXXX";
    dir_ = ::mkdtemp(tmpl) ? tmpl : "";
    if (dir_.empty()) return "mkdtemp failed";
    ::setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    vprinter_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    if (!vprinter_->Start(&error)) return "virtual printer: " + error;
    auto store = reg::Store::Open(dir_ + "/registry.db", &error);
    if (!store) return "registry: " + error;
    if (std::string failed = bench::RegisterSerialSo(); !failed.empty()) return failed;
    if (!bench::AddSerialDevice(*store, false, options.linkPath)) return "cannot write the device key";
    store.reset();
    // The trace file is chosen when the Service Object opens.
    if (traced) ::setenv("OPOS_TRACE", (dir_ + "/trace.log").c_str(), 1);
    const int32_t opened = printer_.Open("Printer1");
    ::unsetenv("OPOS_TRACE");
    if (opened != OPOS_SUCCESS) return "Open: " + printer_.LastErrorText();
    if (printer_.ClaimDevice(1000) != OPOS_SUCCESS) return "ClaimDevice failed";
    printer_.SetDeviceEnabled(true);
    if (printer_.ResultCode() != OPOS_SUCCESS) return "DeviceEnabled failed";
    // Let the enabling's status reports and events go by first.
    printer_.PumpEvents(500);
    return "";
  }

  std::string dir_;
  std::string error_;
  std::unique_ptr<vprinter::VirtualPrinter> vprinter_;
  control::POSPrinter printer_;
};

// One receipt line per call, the common case where a per-call cost shows most.
void BM_PrintNormalLine(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  if (!rig.Error().empty()) {
    state.SkipWithError(rig.Error().c_str());
    return;
  }
  const std::string line = "Item 104  Organic produce, loose   4.99\n";
  std::vector<double> us;
  for (auto _ : state) {
    const auto start = Clock::now();
    const int32_t rc = rig.Printer().PrintNormal(PTR_S_RECEIPT, line);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    if (rc != OPOS_SUCCESS) {
      state.SkipWithError("PrintNormal failed");
      break;
    }
  }
  std::sort(us.begin(), us.end());
  if (!us.empty()) {
    state.counters["p10_us"] = us[us.size() / 10];
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p90_us"] = us[us.size() * 9 / 10];
  }
  state.counters["trace_bytes_per_call"] =
      static_cast<double>(rig.TraceBytes()) / static_cast<double>(std::max<size_t>(us.size(), 1));
}
BENCHMARK(BM_PrintNormalLine)->Arg(0)->Arg(1)->Iterations(2000)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace opos

BENCHMARK_MAIN();
