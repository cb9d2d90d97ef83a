// The printer's own property table: numeric properties 8001-8036, the
// capabilities 8501-8549 and the string properties 1008001-1008008, with the
// unit conversions behind MapMode and RecLineSpacing.
//
// Every numeric cell is atomic: the Control Object's thread sets them while
// the output worker and the status threads write CoverOpen, RecEmpty,
// ErrorLevel, ErrorStation and FlagWhenIdle. ErrorString is replaced by the
// workers while the Control Object may read it, so it sits behind its own lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "common/opos_ptr.h"
#include "printer/printer_profile.h"
#include "printer/translate.h"

namespace opos {

class PrinterProperties {
 public:
  explicit PrinterProperties(const PrinterProfile& profile);
  PrinterProperties(const PrinterProperties&) = delete;
  PrinterProperties& operator=(const PrinterProperties&) = delete;

  // True when `index` is a printer numeric property or capability.
  [[nodiscard]] bool Get(int32_t index, int32_t* value) const;
  // True when `index` is a printer string property.
  [[nodiscard]] bool GetString(int32_t index, std::string* value) const;
  [[nodiscard]] static bool IsSettable(int32_t index);

  // Direct access to one numeric cell (8001-8036).
  std::atomic<int32_t>& operator[](int32_t index) { return cells_[Slot(index)]; }
  const std::atomic<int32_t>& operator[](int32_t index) const { return cells_[Slot(index)]; }

  // Stores a settable property that has no further effect, or the snapped
  // RecLineChars. False for an index with its own setter.
  bool SetPlain(int32_t index, int32_t value);
  // MapMode: converts RecLineSpacing and resets RecLineWidth and
  // RecLineHeight. OPOS_E_ILLEGAL for a mode that has no unit factor.
  [[nodiscard]] int32_t SetMapMode(int32_t mapMode);
  // RecLineSpacing: stores v and recomputes RecLinesToPaperCut, unless a
  // sideways rotation is in force (then nothing changes).
  void SetRecLineSpacing(int32_t value, bool sidewaysRotation);

  std::string ErrorString() const;
  void SetErrorString(std::string_view text);

  // The values translation and barcodes read, copied for one call.
  [[nodiscard]] PrintProperties Snapshot(int32_t binaryConversion) const;

  // The ESC t code table for a CharacterSet value (0 for an unknown one).
  [[nodiscard]] static uint8_t CodeTableFor(int32_t characterSet);

 private:
  static constexpr int32_t kFirst = PIDXPtr_AsyncMode;
  static constexpr int32_t kLast = PIDXPtr_RotateSpecial;
  static size_t Slot(int32_t index) { return static_cast<size_t>(index - kFirst); }

  const PrinterProfile& profile_;
  std::array<std::atomic<int32_t>, kLast - kFirst + 1> cells_{};
  mutable std::mutex errorStringLock_;
  std::string errorString_;  // under errorStringLock_
};

// A length in MapMode's unit times this is dots.
double ToDotsFactor(int32_t mapMode);

}  // namespace opos
