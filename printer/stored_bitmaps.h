// The two stored-bitmap slots and the printer's single download area: which
// image the printer holds, and the resolution of ESC|1B / ESC|2B in output
// just before it is written.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace opos {

class StoredBitmaps {
 public:
  struct Slot {
    std::string download;  // GS * block: 1D 2A x y and the image bytes
    int32_t alignment = 0;
    std::string fileName;  // a slot is defined when this is not empty
    bool normalSize = true;
  };
  using WriteFn = std::function<bool(std::string_view)>;

  // Slot number 1 or 2. `inPrinter`: the block was just downloaded.
  void Define(int number, Slot slot, bool inPrinter);
  // Empties both slots (claim).
  void Clear();
  // The printer lost its download area. Only sets cells: the port's status
  // reader calls this.
  void MarkLost();
  [[nodiscard]] bool InPrinter(int number) const;

  // Replaces every ESC|1B in `data` by the print command of slot 1 (or, when
  // there is none, every ESC|2B by that of slot 2). An image not yet in the
  // printer is downloaded first through `write`; false when that write failed
  // (the data is then left as it was). Escapes of an undefined slot are removed.
  [[nodiscard]] bool Resolve(std::string& data, const WriteFn& write);

 private:
  mutable std::mutex lock_;  // guards slots_ (not the flags)
  std::array<Slot, 2> slots_;
  std::array<std::atomic<bool>, 2> inPrinter_{};
};

}  // namespace opos
