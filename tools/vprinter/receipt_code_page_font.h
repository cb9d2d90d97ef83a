// Shapes for the characters above 0x7F: the byte is read in the printer's
// code table (ESC t) and the character drawn from DejaVu Sans Mono through
// FreeType, so a receipt printed in 850 or 866 reads as the printer would
// print it. The ASCII range keeps the built-in dot font.
#pragma once

#include <cstdint>
#include <vector>

namespace vprinter {

// Dots (w x h, row by row, 1 = set) of byte `ch` (0x80..0xFF) under code
// table `table`; empty when the table, the character, the font or its
// glyph is unknown (the caller draws its box).
std::vector<uint8_t> CodePageGlyph(uint8_t table, uint8_t ch, int w, int h);

}  // namespace vprinter
