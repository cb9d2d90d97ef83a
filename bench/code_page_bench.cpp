// Cost of converting print text to the printer's code page: the ASCII scan
// that plain receipts pay, and UTF-8 text in single- and double-byte pages.
#include <benchmark/benchmark.h>

#include <string>

#include "printer/code_page.h"
#include "printer/printer_properties.h"

namespace {

std::string Lines(const std::string& line) {
  std::string r;
  while (r.size() < 2000) r += line;
  return r;
}

void Convert(benchmark::State& s, int32_t characterSet, const std::string& text) {
  const uint8_t table = opos::PrinterProperties::CodeTableFor(characterSet);
  std::string work;
  for (auto _ : s) {
    work = text;
    opos::Utf8ToCodeTable(table, work);
    benchmark::DoNotOptimize(work.data());
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_AsciiCopyOnly(benchmark::State& s) {
  const std::string text = Lines("Item 1042 Fresh produce          1.99\n");
  std::string work;
  for (auto _ : s) {
    work = text;
    benchmark::DoNotOptimize(work.data());
  }
  s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_AsciiCopyOnly);

void BM_Ascii437(benchmark::State& s) {
  Convert(s, 437, Lines("Item 1042 Fresh produce          1.99\n"));
}
BENCHMARK(BM_Ascii437);
void BM_Latin850(benchmark::State& s) {
  Convert(s, 850,
          Lines("Caf\xc3\xa9 cr\xc3\xa8me  Gr\xc3\xbc\xc3\x9f"
                "e  2,40\n"));
}
BENCHMARK(BM_Latin850);
void BM_Cyrillic866(benchmark::State& s) {
  Convert(s, 866, Lines("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 \xd0\xbc\xd0\xb8\xd1\x80 12,50\n"));
}
BENCHMARK(BM_Cyrillic866);
void BM_Chinese936(benchmark::State& s) {
  Convert(s, 936, Lines("\xe4\xb8\xad\xe6\x96\x87 \xe5\x95\x86\xe5\xba\x97 12.50\n"));
}
BENCHMARK(BM_Chinese936);

}  // namespace

BENCHMARK_MAIN();
