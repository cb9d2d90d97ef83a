// The POS printer service over the serial transport against the virtual
// printer on a pseudo-terminal: a synchronous 2 KB receipt per call (how much
// of it is the service's own work and how much the port write), and the CPU a
// claimed, enabled, idle printer uses.
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "bench/event_sink.h"
#include "platform/dispatch.h"
#include "platform/registry_store.h"
#include "printer/pos_printer.h"
#include "tools/vprinter/virtual_printer.h"
#include "transport/serial/serial_port.h"

namespace opos {
namespace {

using Clock = std::chrono::steady_clock;

// The serial port object with its writes timed: the time spent in Write is the
// printer's (and the line's) own share of a synchronous print.
class TimedPort final : public CPortObject {
 public:
  TimedPort() : inner_(CreateSerialPort()) {}
  int Open(const DeviceConfig& config) override {
    inner_->SetName(name);
    inner_->SetOwner(printer.load(), drawer.load());
    const int r = inner_->Open(config);
    opened = inner_->opened.load();
    return r;
  }
  int32_t StartMonitor(uint32_t timeoutMs) override { return inner_->StartMonitor(timeoutMs); }
  int Write(const uint8_t* bytes, size_t length) override {
    const auto start = Clock::now();
    const int r = inner_->Write(bytes, length);
    writeNs.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
    return r;
  }
  int Read(uint8_t* buffer, size_t maxBytes) override { return inner_->Read(buffer, maxBytes); }
  int32_t CheckReady() override { return inner_->CheckReady(); }
  void Close() override {
    inner_->Close();
    opened = 0;
  }

  static inline std::atomic<int64_t> writeNs{0};

 private:
  std::unique_ptr<CPortObject> inner_;
};

std::unique_ptr<CPortObject> MakeTimedPort() {
  return std::make_unique<TimedPort>();
}

const LibraryProfile kBenchLibrary = {"serialso",
                                      TransportKind::Serial,
                                      "KELVORA.RecPrinter.SO",
                                      "KELVORA.CashDrawer.SO",
                                      {},
                                      {},
                                      1004001,
                                      1003001,
                                      1000,
                                      1,
                                      0,
                                      &MakeTimedPort};

// Stands in for the Control Object: knows the event names, ignores the calls.
class NullSink final : public bench::EventSinkBase {
 public:
  com::HRESULT Invoke(int32_t, std::vector<com::Variant>&, com::Variant*) override { return com::S_OK; }
};

// A claimed and enabled printer on a fresh virtual printer, in a temporary registry.
class Rig {
 public:
  Rig() {
    char tmpl[] = "/tmp/opos-bench-XXXXXX";
    dir_ = mkdtemp(tmpl);
    setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    vprinter_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    ok_ = vprinter_->Start(&error);
    std::unique_ptr<reg::Store> store = reg::Store::Open(dir_ + "/registry.db", &error);
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Bench";
    ok_ = ok_ && store && store->CreateKey(reg::Root::LocalMachine, key) == reg::kOk;
    if (!ok_) return;
    auto sz = [&](const char* n, const std::string& v) {
      store->SetValue(reg::Root::LocalMachine, key, {n, reg::REG_SZ, reg::SzData(v)});
    };
    auto dw = [&](const char* n, uint32_t v) {
      store->SetValue(reg::Root::LocalMachine, key, {n, reg::REG_DWORD, reg::DwordData(v)});
    };
    sz("", "KELVORA.RecPrinter.SO");
    sz("Port", options.linkPath);
    sz("DeviceName", "QMT500");
    dw("Baudrate", 10);
    dw("BitLength", 8);
    dw("HandShake", 0);
    dw("Parity", 0);
    dw("Stop", 1);
    dw("XonXoff", 0);
    store.reset();
    printer_ = new CPOSPrinter();
    ok_ = printer_->OpenService("POSPrinter", "Bench", &sink_) == OPOS_SUCCESS &&
          printer_->ClaimDevice(1000) == OPOS_SUCCESS;
    if (ok_) {
      printer_->SetPropertyNumber(PIDX_DeviceEnabled, 1);
      ok_ = printer_->GetPropertyNumber(PIDX_DeviceEnabled) == 1;
    }
  }
  ~Rig() {
    if (printer_) printer_->Release();
    vprinter_.reset();
    unsetenv("OPOS_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  bool Ok() const { return ok_; }
  CPOSPrinter& Printer() { return *printer_; }
  vprinter::VirtualPrinter& Device() { return *vprinter_; }

 private:
  std::string dir_;
  std::unique_ptr<vprinter::VirtualPrinter> vprinter_;
  NullSink sink_;
  CPOSPrinter* printer_ = nullptr;
  bool ok_ = false;
};

// About 2 KB of receipt: a centred bold heading, item lines, a double-size
// total and a feed-and-cut.
std::string Receipt() {
  std::string r = "\x1b|cA\x1b|bC\x1b|2CKELVORA MARKET\x1b|N\n\x1b|cAHigh Street 1\n\n";
  for (int i = 0; r.size() < 1900; ++i) {
    r += "Item " + std::to_string(100 + i) + "  Organic produce, loose   " + std::to_string(1 + i % 9) +
         ".99\n";
  }
  r += "\x1b|bC\x1b|2vCTOTAL                     123.45\x1b|N\n\x1b|fP";
  return r;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_SyncPrintNormalReceipt(benchmark::State& state) {
  Rig rig;
  if (!rig.Ok()) {
    state.SkipWithError("virtual printer or claim failed");
    return;
  }
  const std::string receipt = Receipt();
  std::vector<double> totalUs, serviceUs;
  for (auto _ : state) {
    const int64_t writeBefore = TimedPort::writeNs.load();
    const auto start = Clock::now();
    const int32_t rc = rig.Printer().PrintNormal(PTR_S_RECEIPT, receipt);
    const double total = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (rc != OPOS_SUCCESS) {
      state.SkipWithError("PrintNormal failed");
      break;
    }
    const double write = static_cast<double>(TimedPort::writeNs.load() - writeBefore) / 1000.0;
    totalUs.push_back(total);
    serviceUs.push_back(total - write);
    state.PauseTiming();
    rig.Device().ClearCapture();
    state.ResumeTiming();
  }
  state.counters["median_call_us"] = Median(totalUs);
  state.counters["median_service_us"] = Median(serviceUs);
  state.counters["service_share_pct"] = 100.0 * Median(serviceUs) / std::max(Median(totalUs), 1e-9);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(receipt.size()));
}
BENCHMARK(BM_SyncPrintNormalReceipt)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(300);

// CPU time of the whole process (service threads, port reader, the idle
// virtual printer) while a claimed, enabled printer sits idle for 10 s.
void BM_IdleClaimedPrinterCpu(benchmark::State& state) {
  Rig rig;
  if (!rig.Ok()) {
    state.SkipWithError("virtual printer or claim failed");
    return;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // let the first status reports settle
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    getrusage(RUSAGE_SELF, &after);
    auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    const double cpu =
        (us(after.ru_utime) - us(before.ru_utime)) + (us(after.ru_stime) - us(before.ru_stime));
    state.counters["cpu_ms_per_10s"] = cpu / 1000.0;
    state.counters["cpu_pct"] = cpu / 1e7 * 100.0;
  }
}
BENCHMARK(BM_IdleClaimedPrinterCpu)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

const LibraryProfile& ThisLibrary() {
  return kBenchLibrary;
}

}  // namespace opos

BENCHMARK_MAIN();
