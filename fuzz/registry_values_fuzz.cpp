// Registry values as the Service Objects read them: a device key (and a
// logical name in its class key) filled with fuzzed names, types and sizes,
// read as each transport reads them, printer and drawer. A number is taken only from
// exactly four bytes, a string only when it fits the 256-byte buffer, and
// nothing resolves outside the class key.
#include <sqlite3.h>

#include <memory>

#include "fuzz/fuzz_input.h"
#include "fuzz/sqlite_pool.h"
#include "platform/registry_store.h"
#include "service/config_reader.h"

using fuzz::check;
using opos::reg::Root;
using opos::reg::Store;

namespace {

const char* const kNames[] = {
    "Port",       "SymbolicLink",   "DeviceName", "Baudrate", "BitLength", "HandShake",
    "Parity",     "Stop",           "XonXoff",    "InputBuf", "OutputBuf", "InputSleep",
    "ImageSleep", "ConnectorPinNo", "OpenLevel",  "DspPort",  ""};

// One store in memory for the whole run, emptied per input: the reader's
// rules are the subject here, not the file system under SQLite. The run has
// one thread, so SQLite need not lock nor count its allocations.
Store& TheStore() {
  static std::unique_ptr<Store> store = [] {
    check(sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) == SQLITE_OK);
    check(sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK);
    check(fuzz::SqlitePool::Install());
    std::string error;
    auto s = Store::Open(":memory:", &error);
    check(s != nullptr);
    return s;
  }();
  return *store;
}

// What the reader must have made of the value under name, given its default.
void CheckNumber(Store& store, const std::string& key, const char* name, int32_t got, int32_t def) {
  opos::reg::Value v;
  if (store.QueryValue(Root::LocalMachine, key, name, &v) != opos::reg::kOk || v.data.size() != 4) {
    check(got == def);
    return;
  }
  const uint32_t u = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
  check(got == static_cast<int32_t>(u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Store& store = TheStore();
  check(store.DeleteTree(Root::LocalMachine, "") == opos::reg::kOk);
  fuzz::Input in(data, size);
  const bool drawer = in.flag();
  const std::string classKey = drawer ? opos::kCashDrawerClassKey : opos::kPosPrinterClassKey;
  const std::string key = classKey + "\\Device";
  check(store.CreateKey(Root::LocalMachine, key) == opos::reg::kOk);
  // The logical name "Shop" maps to a fuzzed key name.
  const std::string target = in.flag() ? std::string("Device") : in.bytes(40);
  (void)store.SetValue(Root::LocalMachine, classKey, {"Shop", opos::reg::REG_SZ, opos::reg::SzData(target)});
  // A device key holds a score of values; more only slows the run down.
  for (int n = 0; n < 16 && !in.empty(); ++n) {
    const uint8_t pick = in.byte();
    const std::string name = pick < 0xF0 ? kNames[pick % std::size(kNames)] : in.bytes(16);
    const uint32_t type = (pick & 0x08) ? in.byte() : opos::reg::REG_SZ + (pick >> 4) % 4;
    const std::string bytes = in.bytes(300);
    (void)store.SetValue(Root::LocalMachine, key,
                         {name, type, std::vector<uint8_t>(bytes.begin(), bytes.end())});
  }

  const std::string resolved = opos::ResolveDeviceKey(store, classKey, "Shop");
  check(resolved.empty() || resolved == key ||
        (resolved.compare(0, classKey.size() + 1, classKey + "\\") == 0 &&
         resolved.find('\\', classKey.size() + 1) == std::string::npos));
  const auto transport = static_cast<opos::TransportKind>(size ? data[size - 1] % 3 : 0);
  {
    opos::DeviceConfig config;
    const bool ok = opos::ReadDeviceConfig(store, key, transport, drawer, &config);
    check(config.Port.size() < 256 && config.DeviceName.size() < 256 && config.DspPort.size() < 256);
    if (!ok) return 0;
    check(config.ConfigKeyPath == key);
    CheckNumber(store, key, "OutputBuf", config.OutputBuf, 1024);
    CheckNumber(store, key, "InputSleep", config.InputSleep, 24);
    if (drawer) {
      CheckNumber(store, key, "ConnectorPinNo", config.ConnectorPinNo, 0);
      CheckNumber(store, key, "OpenLevel", config.OpenLevel, 1);
    } else if (transport != opos::TransportKind::Serial) {
      CheckNumber(store, key, "ImageSleep", config.ImageSleep, 24);
    } else {
      check(config.ImageSleep == 24);  // the serial library does not read it
    }
    if (transport == opos::TransportKind::Serial) {
      CheckNumber(store, key, "Baudrate", config.Baudrate, -1);
      check(config.Baudrate != -1 && config.Stop != -1 && config.Parity != -1);
    }
  }
  return 0;
}
