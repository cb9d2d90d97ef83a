#include "tools/vprinter/receipt_code_page_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <mutex>

#include "printer/code_page_tables.h"

namespace vprinter {
namespace {

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

// One face for the process; FreeType faces are not thread-safe, and several
// virtual printers may render at once.
struct Face {
  std::mutex lock;
  FT_Library library = nullptr;
  FT_Face face = nullptr;

  Face() {
    if (FT_Init_FreeType(&library) != 0) {
      library = nullptr;
      return;
    }
    if (FT_New_Face(library, kFontPath, 0, &face) != 0) face = nullptr;
  }
  ~Face() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }
};

Face& SharedFace() {
  static Face f;
  return f;
}

}  // namespace

std::vector<uint8_t> CodePageGlyph(uint8_t table, uint8_t ch, int w, int h) {
  if (ch < 0x80 || w <= 0 || h <= 0) return {};
  const opos::SingleBytePage* page = opos::FindSingleBytePage(table);
  if (page == nullptr) return {};
  const char16_t cp = page->decode[ch - 0x80];
  if (cp == 0xFFFF) return {};

  Face& f = SharedFace();
  std::lock_guard<std::mutex> g(f.lock);
  if (f.face == nullptr) return {};
  // The mono face advances 0.6 em: an em 5/3 of the cell wide fills it; an em
  // as tall as the cell brings its capitals near the built-in font's height
  // and keeps capital accents inside the cell.
  if (FT_Set_Pixel_Sizes(f.face, static_cast<FT_UInt>(w * 5 / 3), static_cast<FT_UInt>(h)) != 0) return {};
  const FT_UInt index = FT_Get_Char_Index(f.face, cp);
  if (index == 0 || FT_Load_Glyph(f.face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return {};
  const FT_GlyphSlot slot = f.face->glyph;
  const FT_Bitmap& bm = slot->bitmap;
  if (bm.pixel_mode != FT_PIXEL_MODE_MONO) return {};

  // The built-in font's baseline: seven of its eight rows lie above it.
  const int baseline = h * 7 / 8;
  std::vector<uint8_t> dots(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  for (unsigned row = 0; row < bm.rows; ++row) {
    const int y = baseline - slot->bitmap_top + static_cast<int>(row);
    if (y < 0 || y >= h) continue;
    const unsigned char* bits = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
    for (unsigned col = 0; col < bm.width; ++col) {
      const int x = slot->bitmap_left + static_cast<int>(col);
      if (x < 0 || x >= w) continue;
      if (bits[col / 8] & (0x80 >> (col % 8)))
        dots[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] = 1;
    }
  }
  return dots;
}

}  // namespace vprinter
