// .reg import into a registry store, and the round trip: whatever an import
// accepts, exported and imported again into an empty store, exports the same
// text (the same keys, names, types and data).
#include <memory>

#include "fuzz/fuzz_input.h"
#include "platform/reg_file.h"
#include "platform/registry_store.h"

using fuzz::check;
using opos::reg::Root;
using opos::reg::Store;

namespace {

Store& TheStore() {
  static std::unique_ptr<Store> store = [] {
    std::string error;
    auto s = Store::Open(fuzz::ScratchDir() + "/import.db", &error);
    check(s != nullptr);
    return s;
  }();
  return *store;
}

void Wipe(Store& store) {
  check(store.DeleteTree(Root::LocalMachine, "") == opos::reg::kOk);
  check(store.DeleteTree(Root::ClassesRoot, "") == opos::reg::kOk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Store& store = TheStore();
  Wipe(store);
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (store.Import(text) != opos::reg::kOk) {
    // One transaction: a refused file leaves nothing behind.
    std::string empty;
    check(store.ExportAll(&empty) == opos::reg::kOk);
    check(empty == opos::reg::regfile::Header());
    return 0;
  }
  std::string first;
  const long exported = store.ExportAll(&first);
  if (exported == opos::reg::kInvalidParameter) return 0;  // a name .reg text cannot carry
  check(exported == opos::reg::kOk);
  Wipe(store);
  check(store.Import(first) == opos::reg::kOk);
  std::string second;
  check(store.ExportAll(&second) == opos::reg::kOk);
  check(first == second);
  return 0;
}
