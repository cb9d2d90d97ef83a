// The bars of a GS k barcode, worked out with zint, for the receipt renderer. The
// printer's own data conventions (UPC-E in its long form, Code128 code-set prefixes)
// are turned into what zint expects first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter {

struct BarcodeBars {
  std::vector<uint8_t> modules;  // left to right, 1 = bar; empty when error is set
  std::string text;              // the human-readable line
  std::string error;             // why the printer would not print it
};

// m is the GS k symbology byte (0..6 or 65..73); data as the command carried it.
BarcodeBars EncodeBarcode(int m, std::span<const uint8_t> data);

// UPC-A digits (11, or 12 with a check digit) in zero-suppressed form: the number
// system digit and six digits. Nothing when the number cannot be suppressed.
std::optional<std::string> UpceFromUpca(std::string_view digits);

// Code128 data with the printer's "{A", "{B", "{C" code-set prefixes as the plain
// characters it encodes (code set C bytes 0..99 are digit pairs; "{1".."{4" function
// characters and "{S" shifts are dropped, "{{" is "{"). Nothing when it is malformed.
std::optional<std::string> Code128Text(std::span<const uint8_t> data);

}  // namespace vprinter
