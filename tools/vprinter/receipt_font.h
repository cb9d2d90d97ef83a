// The printable-ASCII glyphs the receipt renderer draws with: 5 x 8 dot shapes (seven
// rows above the baseline, one below for descenders) in a 6 x 8 cell, which the renderer
// scales to the printer's fonts (12 x 24 for font A, 9 x 17 for font B).
#pragma once

#include <cstdint>

namespace vprinter {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kGlyphRows = 8;
inline constexpr int kGlyphCellColumns = 6;  // one blank column between characters

// True for 0x20..0x7E; every other byte has no shape and is drawn as a box.
bool HasGlyph(uint8_t ch);
// Whether the dot at column (0..4) and row (0..7) of ch is set; false outside.
bool GlyphDot(uint8_t ch, int column, int row);

}  // namespace vprinter
