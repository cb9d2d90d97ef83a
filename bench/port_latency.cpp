// How fast the port reacts and how close its writes come to the link: status
// report to StatusUpdate, back-to-back process-ID jobs, large writes against a
// raw write of the same bytes to the same pseudo-terminal, a rate-limited
// serial print against its wire time. The printer service runs in process over
// the serial transport against the virtual printer.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "bench/event_sink.h"
#include "platform/dispatch.h"
#include "platform/message_queue.h"
#include "platform/registry_store.h"
#include "printer/pos_printer.h"
#include "tools/vprinter/virtual_printer.h"
#include "transport/parallel/parallel_port.h"
#include "transport/serial/serial_port.h"

namespace opos {
namespace {

using Clock = std::chrono::steady_clock;

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
                                      &CreateSerialPort};

// Stands in for the Control Object: notes when each event arrives.
class EventLog final : public bench::EventSinkBase {
 public:
  com::HRESULT Invoke(int32_t dispid, std::vector<com::Variant>& args, com::Variant*) override {
    int32_t data = 0;
    if (!args.empty()) (void)args[0].AsLong(&data);
    std::lock_guard<std::mutex> g(lock_);
    seen_.push_back({dispid, data, Clock::now()});
    return com::S_OK;
  }
  // Pumps the calling thread's queue until an event dispid with data arrives
  // (any data when data is -1); its arrival time, or nothing after limitMs.
  bool WaitFor(int32_t dispid, int32_t data, int limitMs, Clock::time_point* at) {
    const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
    auto queue = platform::MessageQueue::ForCurrentThread();
    while (Clock::now() < end) {
      {
        std::lock_guard<std::mutex> g(lock_);
        for (auto it = seen_.begin(); it != seen_.end(); ++it) {
          if (it->dispid == dispid && (data == -1 || it->data == data)) {
            *at = it->at;
            seen_.erase(seen_.begin(), it + 1);
            return true;
          }
        }
      }
      queue->PumpFor(1);
    }
    return false;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    seen_.clear();
  }

 private:
  struct Seen {
    int32_t dispid;
    int32_t data;
    Clock::time_point at;
  };
  std::mutex lock_;
  std::vector<Seen> seen_;
};

constexpr int32_t kStatusUpdate = 4;
constexpr int32_t kOutputComplete = 3;

std::string MakeDir() {
  char tmpl[] = "/tmp/opos-bench-XXXXXX";
  return mkdtemp(tmpl);
}

// A claimed and enabled printer of model `model` on a fresh virtual printer.
class Rig {
 public:
  explicit Rig(const std::string& model, uint32_t bytesPerSecond = 0) {
    dir_ = MakeDir();
    setenv("OPOS_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    options.printer.bytesPerSecond = bytesPerSecond;
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
    sz("DeviceName", model);
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 10},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0}}) {
      dw(n, v);
    }
    store.reset();
    printer_ = new CPOSPrinter();
    ok_ = printer_->OpenService("POSPrinter", "Bench", &log_) == OPOS_SUCCESS &&
          printer_->ClaimDevice(1000) == OPOS_SUCCESS;
    if (ok_) {
      printer_->SetPropertyNumber(PIDX_DeviceEnabled, 1);
      ok_ = printer_->GetPropertyNumber(PIDX_DeviceEnabled) == 1;
    }
    // The enabling's own StatusUpdate events go by first.
    Clock::time_point at;
    if (ok_) ok_ = log_.WaitFor(kStatusUpdate, PTR_SUE_REC_PAPEROK, 3000, &at);
    log_.Clear();
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
  EventLog& Log() { return log_; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
  std::unique_ptr<vprinter::VirtualPrinter> vprinter_;
  EventLog log_;
  CPOSPrinter* printer_ = nullptr;
  bool ok_ = false;
};

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double MsSince(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The printer reports paper out: from the moment the virtual printer sends its
// report to StatusUpdate 24 on the opening thread. Paper back in keeps the
// settle pause after an error (CheckReady waits before its first good answer),
// so its latency is noted apart.
void BM_StatusReportToEvent(benchmark::State& state) {
  Rig rig("Z9S");
  if (!rig.Ok()) {
    state.SkipWithError("virtual printer or claim failed");
    return;
  }
  std::vector<double> outMs, backMs;
  for (auto _ : state) {
    Clock::time_point at;
    const auto sent = Clock::now();
    rig.Device().SetPaperEnd(true);
    if (!rig.Log().WaitFor(kStatusUpdate, PTR_SUE_REC_EMPTY, 3000, &at)) {
      state.SkipWithError("no StatusUpdate for paper out");
      break;
    }
    outMs.push_back(MsSince(sent, at));
    const auto back = Clock::now();
    rig.Device().SetPaperEnd(false);
    if (!rig.Log().WaitFor(kStatusUpdate, PTR_SUE_REC_PAPEROK, 3000, &at)) {
      state.SkipWithError("no StatusUpdate for paper back");
      break;
    }
    backMs.push_back(MsSince(back, at));
  }
  state.counters["p50_ms"] = Quantile(outMs, 0.5);
  state.counters["p90_ms"] = Quantile(outMs, 0.9);
  state.counters["p99_ms"] = Quantile(outMs, 0.99);
  state.counters["settled_p50_ms"] = Quantile(backMs, 0.5);
}
BENCHMARK(BM_StatusReportToEvent)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(40);

// Back-to-back asynchronous jobs on the process-ID model: each completes after
// the printer's process-ID answer and the settle pause after it.
void BM_ProcessIdJobs(benchmark::State& state) {
  Rig rig("QMT-500");
  if (!rig.Ok()) {
    state.SkipWithError("virtual printer or claim failed");
    return;
  }
  rig.Printer().SetPropertyNumber(PIDXPtr_AsyncMode, 1);
  const std::string job(2000, 'x');
  for (auto _ : state) {
    if (rig.Printer().PrintNormal(PTR_S_RECEIPT, job + "\n") != OPOS_SUCCESS) {
      state.SkipWithError("PrintNormal failed");
      break;
    }
    Clock::time_point at;
    if (!rig.Log().WaitFor(kOutputComplete, -1, 15000, &at)) {
      state.SkipWithError("no OutputComplete");
      break;
    }
  }
  state.counters["jobs_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessIdJobs)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// Waits until the virtual printer has received `total` bytes.
bool WaitReceived(vprinter::VirtualPrinter& device, size_t total, int limitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(limitMs);
  while (device.Capture().size() < total) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// Plain text without commands, so the printer only counts and prints it.
std::vector<uint8_t> Payload(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = (i % 48 == 47) ? '\n' : static_cast<uint8_t>('A' + i % 26);
  return data;
}

// A parallel-library port object writing `size` bytes to the virtual printer's
// pseudo-terminal, with WritePacing range(1) ("0" or the default 64,20 when
// range(1) is 1), against a raw write of the same bytes to the same device.
void BM_PrinterClassWrite(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const bool defaultPacing = state.range(1) == 1;
  const std::string dir = MakeDir();
  vprinter::VirtualPrinterOptions options;
  options.linkPath = dir + "/printer";
  vprinter::VirtualPrinter device(options);
  std::string error;
  if (!device.Start(&error)) {
    state.SkipWithError("virtual printer failed");
    return;
  }
  auto port = CreateParallelPort();
  port->SetName("Z9P");
  DeviceConfig config;
  config.Port = options.linkPath;
  if (!defaultPacing) config.WriteChunk = config.WritePauseMs = 0;
  if (port->Open(config) != 1) {
    state.SkipWithError("Open failed");
    return;
  }
  const int raw = ::open(options.linkPath.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  const std::vector<uint8_t> data = Payload(size);
  std::vector<double> portMs, rawMs;
  for (auto _ : state) {
    device.ClearCapture();
    auto start = Clock::now();
    if (port->Write(data.data(), data.size()) != 1 || !WaitReceived(device, size, 600000)) {
      state.SkipWithError("port write failed");
      break;
    }
    portMs.push_back(MsSince(start, Clock::now()));
    device.ClearCapture();
    start = Clock::now();
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(raw, data.data() + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != size || !WaitReceived(device, size, 600000)) {
      state.SkipWithError("raw write failed");
      break;
    }
    rawMs.push_back(MsSince(start, Clock::now()));
  }
  if (raw >= 0) ::close(raw);
  port->Close();
  const double p = Quantile(portMs, 0.5), r = Quantile(rawMs, 0.5);
  state.counters["port_ms"] = p;
  state.counters["raw_ms"] = r;
  state.counters["ratio"] = p / std::max(r, 1e-6);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_PrinterClassWrite)
    ->Args({1024, 0})
    ->Args({100 * 1024, 0})
    ->Args({1024 * 1024, 0})
    ->Args({1024, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// 16 KB through the serial port object to a peer that takes the bytes off the
// line at 11,520 bytes a second (115,200 bit/s, 8N1), against that wire time:
// from the start of the write until the peer has read the last byte.
void BM_SerialRateLimitedWrite(benchmark::State& state) {
  constexpr double kBytesPerSecond = 11520;
  constexpr size_t kSize = 16 * 1024;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  auto port = CreateSerialPort();
  port->SetName("Z9S");
  DeviceConfig config;
  config.Port = ::ptsname(master);
  config.Baudrate = 10;
  config.Stop = 1;
  if (port->Open(config) != 1) {
    state.SkipWithError("Open failed");
    ::close(master);
    return;
  }
  const std::vector<uint8_t> data = Payload(kSize);
  std::vector<double> ms;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::thread line([&] {
      // Reads no faster than the wire would deliver.
      std::vector<uint8_t> buffer(kSize);
      size_t got = 0;
      while (got < kSize) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const size_t allowed = std::min(kSize, static_cast<size_t>(elapsed * kBytesPerSecond));
        if (allowed > got) {
          ssize_t n = ::read(master, buffer.data(), allowed - got);
          if (n < 0) break;
          got += static_cast<size_t>(n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    const int ok = port->Write(data.data(), data.size());
    line.join();
    if (ok != 1) {
      state.SkipWithError("write failed");
      break;
    }
    ms.push_back(MsSince(start, Clock::now()));
  }
  port->Close();
  ::close(master);
  const double wireMs = 1000.0 * static_cast<double>(kSize) / kBytesPerSecond;
  state.counters["print_ms"] = Quantile(ms, 0.5);
  state.counters["wire_ms"] = wireMs;
  state.counters["ratio"] = Quantile(ms, 0.5) / wireMs;
}
BENCHMARK(BM_SerialRateLimitedWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

const LibraryProfile& ThisLibrary() {
  return kBenchLibrary;
}

}  // namespace opos

BENCHMARK_MAIN();
