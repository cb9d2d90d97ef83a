// Throughput of print data translation on a styled 40-line receipt.
#include <benchmark/benchmark.h>

#include <string>

#include "printer/translate.h"

namespace {

std::string Receipt() {
  std::string r = "\x1b|cA\x1b|2C\x1b|bCZENTRIM MARKET\n\x1b|N\x1b|cA12 Harbour Road\n";
  r += "\x1b|cATel 0123 456789\n\x1b|lF";
  for (int i = 0; i < 32; ++i) {
    r += "Item " + std::to_string(1000 + i) + " Fresh produce        \x1b|bC" + std::to_string(i + 1) +
         ".99\x1b|N\n";
  }
  r += "\x1b|uC------------------------------------------\x1b|N\n";
  r += "\x1b|2vC\x1b|3hCTOTAL      123.45\x1b|N\n";
  r += "\x1b|rACash      200.00\nChange      76.55\n";
  r += "\x1b|cA\x1b|2hCThank you!\x1b|N\n\x1b|30uF\x1b|tL\x1b|fP";
  return r;
}

void BM_TranslatePrintData(benchmark::State& s) {
  const std::string receipt = Receipt();
  opos::PrintProperties props;
  opos::TranslationState state;
  state.strTopLogo = "\x1b\x61\x31ZENTRIM";
  std::string out;
  for (auto _ : s) {
    out.clear();
    benchmark::DoNotOptimize(opos::TranslatePrintData(opos::kSerialTranslation, props, state, receipt, out));
    benchmark::DoNotOptimize(out.data());
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(receipt.size()));
}
BENCHMARK(BM_TranslatePrintData);

// The whole PrintNormal data path, with a fresh output buffer per call.
void BM_PreparePrintNormal(benchmark::State& s) {
  const std::string receipt = Receipt();
  opos::PrintProperties props;
  opos::TranslationState state;
  for (auto _ : s) {
    auto p = opos::PreparePrintNormal(opos::kUsbTranslation, props, state, receipt);
    benchmark::DoNotOptimize(p.bytes.data());
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(receipt.size()));
}
BENCHMARK(BM_PreparePrintNormal);

}  // namespace

BENCHMARK_MAIN();
