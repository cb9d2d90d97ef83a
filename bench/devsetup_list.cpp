// `devsetup list` over a registry of 10, 100 and 1,000 printers with the
// values a device added from its model file carries.
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/registry_store.h"
#include "setup/devsetup_cli.h"

namespace {

using namespace opos;

std::string DeviceRegText(int n) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\Printer" +
                          std::to_string(n) + "]\n";
  std::string t = key;
  t += "@=\"KELVORA.RecPrinter.SO\"\n\"SOName\"=\"KELVORA.RecPrinter.SO\"\n";
  t += "\"DeviceName\"=\"Z9S\"\n\"DeviceDesc\"=\"Receipt printer\"\n\"Description\"=\"KELVORA printer\"\n";
  t += "\"ZADConfig\"=\"KELVORA\"\n\"Version\"=\"1.4\"\n\"Port\"=\"COM" + std::to_string(1 + n % 9) + "\"\n";
  for (const char* name : {"Baudrate", "BitLength", "Parity", "Stop", "HandShake", "XonXoff", "InputBuf",
                           "OutputBuf", "InputSleep", "Timeout", "ImageSleep", "IdleSleep", "PortShare"}) {
    t += std::string("\"") + name + "\"=dword:00000006\n";
  }
  for (const char* name :
       {"BaudrateSel", "BitLengthSel", "ParitySel", "StopSel", "HandShakeSel", "XonXoffSel"}) {
    t += std::string("\"") + name + "\"=\"0,1,2\"\n";
  }
  return t + "\n";
}

void BM_DevsetupList(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  char tmpl[] = "/tmp/opos-bench-list-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/registry.db";
  setenv("OPOS_REGISTRY", path.c_str(), 1);
  {
    std::string error;
    auto store = reg::Store::Open(path, &error);
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    for (int i = 1; i <= devices; ++i) text += DeviceRegText(i);
    if (!store || store->Import(text) != reg::kOk) {
      state.SkipWithError("cannot fill the registry");
      return;
    }
  }
  for (auto _ : state) {
    std::ostringstream out, err;
    if (setup::RunDevsetup({"list"}, out, err, {}) != 0) {
      state.SkipWithError("devsetup list failed");
      break;
    }
    benchmark::DoNotOptimize(out.str().size());
  }
  unsetenv("OPOS_REGISTRY");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_DevsetupList)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
