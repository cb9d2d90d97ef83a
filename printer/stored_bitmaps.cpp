#include "printer/stored_bitmaps.h"

#include <utility>

#include "common/opos_ptr.h"
#include "printer/translate.h"

namespace opos {

void StoredBitmaps::Define(int number, Slot slot, bool inPrinter) {
  if (number != 1 && number != 2) return;
  const size_t i = static_cast<size_t>(number - 1);
  {
    std::lock_guard<std::mutex> g(lock_);
    slots_[i] = std::move(slot);
  }
  // The printer holds one downloaded image: the other slot's is gone.
  inPrinter_[1 - i] = false;
  inPrinter_[i] = inPrinter;
}

void StoredBitmaps::Clear() {
  std::lock_guard<std::mutex> g(lock_);
  // Swapped out rather than assigned: assigning an empty string keeps the
  // old block's allocation.
  for (Slot& s : slots_) {
    Slot empty;
    std::swap(s, empty);
  }
  MarkLost();
}

void StoredBitmaps::MarkLost() {
  inPrinter_[0] = false;
  inPrinter_[1] = false;
}

bool StoredBitmaps::InPrinter(int number) const {
  return (number == 1 || number == 2) && inPrinter_[static_cast<size_t>(number - 1)].load();
}

bool StoredBitmaps::Resolve(std::string& data, const WriteFn& write) {
  // The whole block is searched: binary data may put a 0 byte before an escape.
  size_t i = 0;
  std::string_view escape = kStoredBitmap1Escape;
  if (data.find(escape) == std::string::npos) {
    escape = kStoredBitmap2Escape;
    if (data.find(escape) == std::string::npos) return true;
    i = 1;
  }
  Slot slot;
  {
    std::lock_guard<std::mutex> g(lock_);
    slot = slots_[i];
  }
  std::string replacement;
  if (!slot.fileName.empty()) {
    if (!inPrinter_[i].load()) {
      if (!write(slot.download)) return false;
      inPrinter_[1 - i] = false;
      inPrinter_[i] = true;
    }
    const char a = slot.alignment == PTR_BM_LEFT ? 0x30 : slot.alignment == PTR_BM_RIGHT ? 0x32 : 0x31;
    const char m = slot.normalSize ? 0x30 : 0x33;
    replacement = {0x1B, 0x61, a, 0x1D, 0x2F, m, 0x1B, 0x61, 0x30};
  }
  std::string out;
  out.reserve(data.size() + 8);
  size_t from = 0;
  for (size_t at; (at = data.find(escape, from)) != std::string::npos; from = at + escape.size()) {
    out.append(data, from, at - from);
    out += replacement;
  }
  out.append(data, from, std::string::npos);
  data = std::move(out);
  return true;
}

}  // namespace opos
