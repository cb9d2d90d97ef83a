#include "tools/vprinter/receipt_renderer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/vprinter/receipt_barcode.h"
#include "tools/vprinter/receipt_code_page_font.h"
#include "tools/vprinter/receipt_font.h"

namespace vprinter {

namespace {

constexpr int kTopMargin = 8;
constexpr int kBottomMargin = 8;
constexpr int kDefaultLineSpacing = 60;   // half dots: 30 dots
constexpr int kDefaultPageHeight = 1662;  // page-mode area height when ESC W never came
constexpr size_t kMaxPageCommands = 20000;
constexpr size_t kMaxPagePayload = 4u << 20;

// Parameters that accept both the binary and the ASCII-digit form (0/48, 1/49, ...).
int PairValue(int n) {
  return n >= 48 ? n - 48 : n;
}
int Le16(const std::vector<uint8_t>& b, size_t i) {
  return i + 1 < b.size() ? b[i] + 256 * b[i + 1] : 0;
}

// A rectangle of dots, 1 = black.
struct Dots {
  int w = 0;
  int h = 0;
  std::vector<uint8_t> d;

  Dots() = default;
  Dots(int width, int height)
      : w(std::max(width, 0)),
        h(std::max(height, 0)),
        d(static_cast<size_t>(w) * static_cast<size_t>(h), 0) {}

  bool Get(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && d[Index(x, y)] != 0; }
  void Set(int x, int y, bool on = true) {
    if (x >= 0 && y >= 0 && x < w && y < h) d[Index(x, y)] = on ? 1 : 0;
  }
  void Fill(int x0, int y0, int x1, int y1, bool on = true) {
    for (int y = std::max(y0, 0); y < std::min(y1, h); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x1, w); ++x) d[Index(x, y)] = on ? 1 : 0;
    }
  }
  // ORs src in with its top left corner at (x, y); what falls outside is dropped.
  void Blit(const Dots& src, int x, int y) {
    for (int sy = 0; sy < src.h; ++sy) {
      const int ty = y + sy;
      if (ty < 0 || ty >= h) continue;
      for (int sx = 0; sx < src.w; ++sx) {
        if (src.d[src.Index(sx, sy)] != 0) Set(x + sx, ty);
      }
    }
  }
  Dots Rotated180() const {
    Dots r(w, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.Index(w - 1 - x, h - 1 - y)] = d[Index(x, y)];
    }
    return r;
  }
  Dots RotatedClockwise() const {
    Dots r(h, w);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.Index(h - 1 - y, x)] = d[Index(x, y)];
    }
    return r;
  }
  Dots RotatedCounterclockwise() const {
    Dots r(h, w);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.Index(y, w - 1 - x)] = d[Index(x, y)];
    }
    return r;
  }
  int RightmostDark() const {
    int right = -1;
    for (int y = 0; y < h; ++y) {
      for (int x = w - 1; x > right; --x) {
        if (d[Index(x, y)] != 0) right = x;
      }
    }
    return right;
  }

 private:
  size_t Index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
  }
};

// Where dots land: a fixed width and a height that grows with the content up to a limit.
class Surface {
 public:
  Surface(int width, int maxHeight) : width_(width), maxHeight_(maxHeight) {}

  int Width() const { return width_; }
  int MaxHeight() const { return maxHeight_; }
  bool Clipped() const { return clipped_; }
  void MarkClipped() { clipped_ = true; }

  void Place(const Dots& src, int x, int y) {
    if (y + src.h > maxHeight_) clipped_ = true;
    const int bottom = std::min(y + src.h, maxHeight_);
    if (bottom <= 0) return;
    if (bottom > rows_) {
      dots_.resize(static_cast<size_t>(bottom) * static_cast<size_t>(width_), 0);
      rows_ = bottom;
    }
    for (int sy = 0; sy < src.h; ++sy) {
      const int ty = y + sy;
      if (ty < 0 || ty >= bottom) continue;
      for (int sx = 0; sx < src.w; ++sx) {
        const int tx = x + sx;
        if (tx >= 0 && tx < width_ && src.Get(sx, sy))
          dots_[static_cast<size_t>(ty) * static_cast<size_t>(width_) + static_cast<size_t>(tx)] = 1;
      }
    }
  }

  // The top height rows as dots (rows never drawn are white).
  Dots Take(int height) const {
    Dots out(width_, std::clamp(height, 0, maxHeight_));
    const size_t n = std::min(out.d.size(), dots_.size());
    std::copy(dots_.begin(), dots_.begin() + static_cast<std::ptrdiff_t>(n), out.d.begin());
    return out;
  }

 private:
  int width_;
  int maxHeight_;
  int rows_ = 0;
  bool clipped_ = false;
  std::vector<uint8_t> dots_;
};

// The printer's settings that are not carried in each command's Style.
struct Modes {
  int lineSpacing = kDefaultLineSpacing;          // half dots
  int leftMargin = 0;                             // GS L, dots from the print origin
  int printWidth = ReceiptRenderer::kPrintWidth;  // GS W
  bool defaultTabs = true;                        // every 8 columns until ESC D
  std::vector<int> tabs;                          // ESC D columns, ascending
};

struct FontSize {
  int w;
  int h;
};
FontSize SizeOfFont(uint8_t font) {
  return font == 1 ? FontSize{9, 17} : FontSize{12, 24};
}
int WidthMul(const Style& s) {
  return std::clamp<int>(s.width, 1, 8);
}
int HeightMul(const Style& s) {
  return std::clamp<int>(s.height, 1, 8);
}

// The dots of one character in its cell, before any size, style or rotation.
Dots BaseGlyph(uint8_t ch, uint8_t font, uint8_t codeTable) {
  const FontSize f = SizeOfFont(font);
  Dots g(f.w, f.h);
  if (ch >= 0x80) {
    const std::vector<uint8_t> dots = CodePageGlyph(codeTable, ch, f.w, f.h);
    if (!dots.empty()) {
      for (int y = 0; y < f.h; ++y) {
        for (int x = 0; x < f.w; ++x) {
          if (dots[static_cast<size_t>(y * f.w + x)]) g.Set(x, y);
        }
      }
      return g;
    }
  }
  if (!HasGlyph(ch)) {
    // No shape for this byte in the built-in table: an outlined box stands in for it.
    for (int x = 1; x < f.w - 2; ++x) {
      g.Set(x, 1);
      g.Set(x, f.h - 3);
    }
    for (int y = 1; y < f.h - 2; ++y) {
      g.Set(1, y);
      g.Set(f.w - 3, y);
    }
    return g;
  }
  // Font B's 17th row stays blank; the 6 x 8 cell stretches over the rest.
  const int rows = font == 1 ? f.h - 1 : f.h;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < f.w; ++x) {
      if (GlyphDot(ch, x * kGlyphCellColumns / f.w, y * kGlyphRows / rows)) g.Set(x, y);
    }
  }
  return g;
}

int CharAdvance(const Style& s) {
  return (SizeOfFont(s.font).w + s.rightSpacing) * WidthMul(s);
}

// A character as it goes on the line: enlarged, emphasised, underlined, rotated,
// reversed, with its right-side spacing.
Dots GlyphCell(uint8_t ch, const Style& s) {
  const Dots base = BaseGlyph(ch, s.font, s.codeTable);
  const int wm = WidthMul(s), hm = HeightMul(s);
  Dots g(base.w * wm, base.h * hm);
  for (int y = 0; y < g.h; ++y) {
    for (int x = 0; x < g.w; ++x) {
      if (base.Get(x / wm, y / hm)) g.Set(x, y);
    }
  }
  if (s.emphasized || s.doubleStrike) {
    // Struck a second time one dot to the right.
    for (int y = 0; y < g.h; ++y) {
      for (int x = g.w - 1; x > 0; --x) {
        if (g.Get(x - 1, y)) g.Set(x, y);
      }
    }
  }
  if (s.rotated90) g = g.RotatedClockwise();
  Dots cell(g.w + s.rightSpacing * wm, g.h);
  cell.Blit(g, 0, 0);
  // The printer does not underline characters turned by 90 degrees.
  if (s.underline > 0 && !s.rotated90) cell.Fill(0, cell.h - std::min<int>(s.underline, 2), cell.w, cell.h);
  if (s.reverse) {
    for (auto& v : cell.d) v = v ? 0 : 1;
  }
  return cell;
}

// Plain text in font A or B, cut at max_width, for notes and barcode text.
Dots TextDots(std::string_view text, uint8_t font, int maxWidth) {
  Style s;
  s.font = font;
  const int adv = CharAdvance(s);
  const int n = std::min<int>(static_cast<int>(text.size()), std::max(maxWidth, 0) / adv);
  Dots out(n * adv, SizeOfFont(font).h);
  for (int i = 0; i < n; ++i)
    out.Blit(GlyphCell(static_cast<uint8_t>(text[static_cast<size_t>(i)]), s), i * adv, 0);
  return out;
}

// Lays lines and blocks down a surface, the way standard mode fills the paper.
class Composer {
 public:
  Composer(Surface& surface, int top) : surface_(surface), y2_(2 * static_cast<int64_t>(top)) {}

  void SetArea(int left, int width) {
    left_ = std::clamp(left, 0, surface_.Width());
    width_ = std::clamp(width, 0, surface_.Width() - left_);
  }
  int AreaWidth() const { return width_; }
  int Top() const { return static_cast<int>(y2_ / 2); }
  bool LineEmpty() const { return items_.empty() && x_ == 0; }
  bool Printed() const { return printed_; }

  // One character: a line that cannot take it is printed first.
  void AddChar(uint8_t ch, const Style& s, int lineSpacing) {
    const int adv = CharAdvance(s);
    const int advRot = s.rotated90 ? SizeOfFont(s.font).h * HeightMul(s) + s.rightSpacing * WidthMul(s) : adv;
    if (advRot > width_) return;  // wider than the whole area: the printer skips it
    if (x_ + advRot > width_) PrintLine(lineSpacing);
    AddItem(GlyphCell(ch, s), s);
  }

  // A bit image inside the line; what passes the right edge of the area is dropped.
  void AddInline(const Dots& image, const Style& s) {
    const int room = width_ - x_;
    if (room <= 0) return;
    if (image.w <= room) {
      AddItem(image, s);
      return;
    }
    Dots part(room, image.h);
    part.Blit(image, 0, 0);
    AddItem(part, s);
  }

  void MoveTo(int x) {
    if (x >= 0 && x <= width_) x_ = x;
  }
  int X() const { return x_; }

  // Prints the line buffer and feeds: the line spacing, but never less than the line is tall.
  void PrintLine(int feedHalfDots) {
    int height = 0, extent = x_;
    for (const Item& it : items_) {
      height = std::max(height, it.dots.h);
      extent = std::max(extent, it.x + it.dots.w);
    }
    if (!items_.empty()) {
      const int offset = lineStyle_.justification == 1   ? (width_ - extent) / 2
                         : lineStyle_.justification == 2 ? width_ - extent
                                                         : 0;
      Dots line(width_, height);
      // Characters of different heights share their bottom line.
      for (const Item& it : items_) line.Blit(it.dots, std::max(offset, 0) + it.x, height - it.dots.h);
      if (lineStyle_.upsideDown) line = line.Rotated180();
      surface_.Place(line, left_, Top());
      printed_ = true;
    }
    Advance(std::max<int64_t>(feedHalfDots, 2 * static_cast<int64_t>(height)));
    items_.clear();
    x_ = 0;
  }

  void DiscardLine() {
    items_.clear();
    x_ = 0;
  }

  void Feed(int halfDots) { Advance(halfDots); }

  // An image, barcode or logo: printed on its own below any pending line, at the
  // justification in force; the paper moves on by its height.
  void AddBlock(const Dots& block, int justification, int lineSpacing) {
    if (!LineEmpty()) PrintLine(lineSpacing);
    const int offset = justification == 1   ? (width_ - block.w) / 2
                       : justification == 2 ? width_ - block.w
                                            : 0;
    PlaceBlock(block, left_ + std::max(offset, 0));
  }

  // A block at an absolute x on the surface (page-mode pages).
  void PlaceBlock(const Dots& block, int x) {
    if (block.w > 0 && block.h > 0) {
      surface_.Place(block, x, Top());
      printed_ = true;
    }
    Advance(2 * static_cast<int64_t>(block.h));
  }

 private:
  struct Item {
    int x;
    Dots dots;
  };

  void AddItem(Dots dots, const Style& s) {
    if (items_.empty()) lineStyle_ = s;  // justification and upside-down count from the line's start
    const int w = dots.w;
    items_.push_back(Item{x_, std::move(dots)});
    x_ += w;
  }

  void Advance(int64_t halfDots) {
    y2_ += std::max<int64_t>(halfDots, 0);
    const int64_t limit = 2 * static_cast<int64_t>(surface_.MaxHeight());
    if (y2_ > limit) {
      y2_ = limit;
      surface_.MarkClipped();
    }
  }

  Surface& surface_;
  int left_ = 0;
  int width_ = 0;
  int64_t y2_;  // the next line's top, in half dots
  int x_ = 0;
  Style lineStyle_;
  std::vector<Item> items_;
  bool printed_ = false;
};

// GS v 0: rows of bytes, leftmost dot in bit 7; m doubles width (1), height (2) or both (3).
Dots RasterImage(const Command& c, int maxW, int maxH) {
  const int m = PairValue(c.Arg(0, 0)), bytesPerRow = c.Arg(1, 0), rows = c.Arg(2, 0);
  const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
  const int64_t fullW = int64_t{bytesPerRow} * 8 * sx, fullH = int64_t{rows} * sy;
  Dots out(static_cast<int>(std::min<int64_t>(fullW, maxW)),
           static_cast<int>(std::min<int64_t>(fullH, maxH)));
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int px = x / sx, py = y / sy;
      const size_t at =
          static_cast<size_t>(py) * static_cast<size_t>(bytesPerRow) + static_cast<size_t>(px / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - px % 8)) & 1)) out.Set(x, y);
    }
  }
  return out;
}

// GS / of the GS * image: x * 8 columns of y bytes each, top dot in bit 7.
Dots DownloadedImage(const Command& c, int maxW) {
  const int m = PairValue(c.Arg(0, 0)), xb = c.Arg(1, 0), yb = c.Arg(2, 0);
  const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
  Dots out(std::min(xb * 8 * sx, maxW), yb * 8 * sy);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int col = x / sx, row = y / sy;
      const size_t at = static_cast<size_t>(col) * static_cast<size_t>(yb) + static_cast<size_t>(row / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - row % 8)) & 1)) out.Set(x, y);
    }
  }
  return out;
}

// ESC *: columns of one byte (8-dot modes) or three bytes (24-dot modes), top dot in
// bit 7. The 8-dot modes print each dot three dots tall; single density two dots wide.
Dots BitImage(const Command& c, int maxW) {
  const int m = c.Arg(0, 0), columns = c.Arg(1, 0);
  const bool tall = m == 32 || m == 33;
  const int perColumn = tall ? 3 : 1;
  const int sx = (m == 0 || m == 32) ? 2 : 1, sy = tall ? 1 : 3;
  Dots out(std::min(columns * sx, maxW), 8 * perColumn * sy);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int col = x / sx, row = y / sy;
      const size_t at =
          static_cast<size_t>(col) * static_cast<size_t>(perColumn) + static_cast<size_t>(row / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - row % 8)) & 1)) out.Set(x, y);
    }
  }
  return out;
}

Dots BoxedLabel(int w, int h, const std::string& label) {
  Dots box(w, h);
  box.Fill(0, 0, w, 2);
  box.Fill(0, h - 2, w, h);
  box.Fill(0, 0, 2, h);
  box.Fill(w - 2, 0, w, h);
  const Dots text = TextDots(label, 0, w - 8);
  box.Blit(text, (w - text.w) / 2, (h - text.h) / 2);
  return box;
}

// FS p: the logo's dots live only in the real printer, so a labelled box stands in.
Dots NvLogo(const Command& c) {
  const int m = PairValue(c.Arg(1, 0));
  return BoxedLabel(256 * ((m & 1) ? 2 : 1), 80 * ((m & 2) ? 2 : 1),
                    "NV logo " + std::to_string(c.Arg(0, 0)));
}

Dots Note(const std::string& text, int maxW) {
  return TextDots("[" + text + "]", 1, maxW);
}

// GS k with the module width, height and text position in force.
Dots Barcode(const Command& c, int maxW) {
  const BarcodeBars bars = EncodeBarcode(c.Arg(0, 0), c.data);
  if (!bars.error.empty()) return Note("barcode: " + bars.error, maxW);
  const Style& s = c.style;
  const int module = std::clamp<int>(s.barcodeModule, 1, 6);
  const int barsW = static_cast<int>(bars.modules.size()) * module;
  if (barsW > maxW) return Note("barcode wider than the print area", maxW);
  const int height = std::max<int>(s.barcodeHeight, 1);
  const uint8_t hriFont = s.hriFont == 1 ? 1 : 0;
  constexpr int kGap = 2;
  const Dots text = s.hriPosition != 0 ? TextDots(bars.text, hriFont, maxW) : Dots();
  const bool above = s.hriPosition == 1 || s.hriPosition == 3,
             below = s.hriPosition == 2 || s.hriPosition == 3;
  const int aboveH = above ? text.h + kGap : 0, belowH = below ? text.h + kGap : 0;
  Dots out(std::max(barsW, text.w), aboveH + height + belowH);
  const int barsX = (out.w - barsW) / 2;
  for (size_t i = 0; i < bars.modules.size(); ++i) {
    if (bars.modules[i])
      out.Fill(barsX + static_cast<int>(i) * module, aboveH, barsX + static_cast<int>(i + 1) * module,
               aboveH + height);
  }
  if (above) out.Blit(text, (out.w - text.w) / 2, 0);
  if (below) out.Blit(text, (out.w - text.w) / 2, aboveH + height + kGap);
  return out;
}

bool IsHead(const Command& c, uint8_t a, uint8_t b) {
  return c.head.size() >= 2 && c.head[0] == a && c.head[1] == b;
}

}  // namespace

class ReceiptRenderer::Impl {
 public:
  Impl(Sink sink, int maxHeight) : sink_(std::move(sink)), maxHeight_(std::max(maxHeight, kMinMaxHeight)) {
    NewPaper();
  }

  void Add(const Command& c) {
    if (page_) {
      PageCommand(c);
      return;
    }
    switch (c.kind) {
      case CommandKind::PageMode:
        if (!composer_->LineEmpty()) composer_->PrintLine(modes_.lineSpacing);
        page_.emplace();
        break;
      case CommandKind::PartialCut:
      case CommandKind::FullCut:
      case CommandKind::Cut:
        Cut(c);
        break;
      case CommandKind::Initialize:
        ResetModes();
        break;
      case CommandKind::OtherKnown:
        if (IsHead(c, 0x1D, 'L') || IsHead(c, 0x1D, 'W')) {
          // The printer takes a new margin or width only at the start of a line.
          if (!composer_->LineEmpty()) break;
          if (IsHead(c, 0x1D, 'L')) modes_.leftMargin = Le16(c.head, 2);
          if (IsHead(c, 0x1D, 'W')) modes_.printWidth = Le16(c.head, 2);
          ApplyArea();
          break;
        }
        Content(c, *composer_, modes_);
        break;
      default:
        Content(c, *composer_, modes_);
        break;
    }
  }

  void Finish() {
    if (!composer_->LineEmpty()) composer_->PrintLine(0);
    if (composer_->Printed()) HandOver(false);
  }

  void PowerCycle() { ResetModes(); }

 private:
  struct Page {
    std::vector<Command> commands;
    size_t payload = 0;
    bool overflow = false;
    std::optional<std::array<int, 4>> area;  // x, y, dx, dy
  };

  void NewPaper() {
    paper_ = std::make_unique<Surface>(kPaperWidth, maxHeight_);
    composer_ = std::make_unique<Composer>(*paper_, kTopMargin);
    ApplyArea();
  }

  void ApplyArea() { composer_->SetArea(kPrintOrigin + modes_.leftMargin, modes_.printWidth); }

  // ESC @ and power-on: modes back to their defaults, unprinted data gone.
  void ResetModes() {
    modes_ = Modes{};
    composer_->DiscardLine();
    page_.reset();
    ApplyArea();
  }

  // The commands that put dots on paper, in standard mode and inside a page alike.
  void Content(const Command& c, Composer& comp, Modes& modes) {
    switch (c.kind) {
      case CommandKind::Text:
        for (uint8_t b : c.data) comp.AddChar(b, c.style, modes.lineSpacing);
        break;
      case CommandKind::LineFeed:
        comp.PrintLine(modes.lineSpacing);
        break;
      case CommandKind::FeedLines: {
        const int n = c.Arg(0, 0);
        if (!comp.LineEmpty())
          comp.PrintLine(n > 0 ? modes.lineSpacing : 0);
        else if (n > 0)
          comp.Feed(modes.lineSpacing);
        for (int i = 1; i < n; ++i) comp.Feed(modes.lineSpacing);
        break;
      }
      case CommandKind::FeedDots:
        if (!comp.LineEmpty())
          comp.PrintLine(c.Arg(0, 0));
        else
          comp.Feed(c.Arg(0, 0));
        break;
      case CommandKind::LineSpacing:
        modes.lineSpacing = c.Arg(0, 0);
        break;
      case CommandKind::DefaultLineSpacing:
        modes.lineSpacing = kDefaultLineSpacing;
        break;
      case CommandKind::HorizontalTab:
        Tab(c.style, comp, modes);
        break;
      case CommandKind::BitImage:
        if (c.valid) comp.AddInline(BitImage(c, comp.AreaWidth()), c.style);
        break;
      case CommandKind::RasterImage:
        if (c.valid)
          comp.AddBlock(RasterImage(c, comp.AreaWidth(), maxHeight_), c.style.justification,
                        modes.lineSpacing);
        break;
      case CommandKind::PrintImage:
        if (c.valid)
          comp.AddBlock(DownloadedImage(c, comp.AreaWidth()), c.style.justification, modes.lineSpacing);
        break;
      case CommandKind::PrintNvLogo:
        if (c.valid) comp.AddBlock(NvLogo(c), c.style.justification, modes.lineSpacing);
        break;
      case CommandKind::Barcode:
        comp.AddBlock(Barcode(c, comp.AreaWidth()), c.style.justification, modes.lineSpacing);
        break;
      case CommandKind::OtherKnown:
        if (IsHead(c, 0x1B, '$')) comp.MoveTo(Le16(c.head, 2));
        if (IsHead(c, 0x1B, '\\')) comp.MoveTo(comp.X() + static_cast<int16_t>(Le16(c.head, 2)));
        if (IsHead(c, 0x1B, 'D')) {
          modes.defaultTabs = false;
          modes.tabs.clear();
          for (uint8_t col : c.data) {
            if (modes.tabs.empty() || col > modes.tabs.back()) modes.tabs.push_back(col);
          }
        }
        break;
      default:
        break;
    }
  }

  void Tab(const Style& s, Composer& comp, const Modes& modes) {
    const int column = std::max(CharAdvance(s), 1);
    const int current = comp.X() / column;
    int next = -1;
    if (modes.defaultTabs) {
      next = (current / 8 + 1) * 8;
    } else {
      for (int t : modes.tabs) {
        if (t > current) {
          next = t;
          break;
        }
      }
    }
    if (next >= 0) comp.MoveTo(next * column);
  }

  void PageCommand(const Command& c) {
    Page& page = *page_;
    switch (c.kind) {
      case CommandKind::StandardMode:
        page_.reset();  // the page's data is dropped, not printed
        break;
      case CommandKind::Initialize:
        ResetModes();
        break;
      case CommandKind::Cancel:
        page.commands.clear();
        page.payload = 0;
        break;
      case CommandKind::PrintArea:
        if (c.valid) page.area = std::array<int, 4>{c.Arg(0), c.Arg(1), c.Arg(2), c.Arg(3)};
        break;
      case CommandKind::PrintPage:
        PrintPage(c.style.printDirection);
        page.commands.clear();
        page.payload = 0;
        break;
      case CommandKind::FormFeed:
        PrintPage(c.style.printDirection);
        page_.reset();
        break;
      case CommandKind::PartialCut:
      case CommandKind::FullCut:
      case CommandKind::Cut:
      case CommandKind::PageMode:
        break;  // a printer in page mode does not cut
      default:
        if (page.commands.size() >= kMaxPageCommands || page.payload + c.data.size() > kMaxPagePayload) {
          page.overflow = true;
          break;
        }
        page.payload += c.data.size();
        page.commands.push_back(c);
        break;
    }
  }

  // Lays the page out in its own frame, turns it to the print direction and puts it on
  // the paper at the print area's place.
  void PrintPage(int direction) {
    const Page& page = *page_;
    const bool sideways = direction == 1 || direction == 3;
    const int x = page.area ? std::clamp((*page.area)[0], 0, kPaperWidth - kPrintOrigin) : 0;
    const int y = page.area ? std::min((*page.area)[1], maxHeight_) : 0;
    const int dx = std::min(page.area ? (*page.area)[2] : modes_.printWidth, kPaperWidth - kPrintOrigin - x);
    const int dy = std::min(page.area ? (*page.area)[3] : kDefaultPageHeight, maxHeight_);
    const int frameW = sideways ? dy : dx, frameH = sideways ? dx : dy;
    Surface frame(frameW, frameH);
    Composer comp(frame, 0);
    comp.SetArea(0, frameW);
    Modes modes = modes_;
    for (const Command& c : page.commands) Content(c, comp, modes);
    if (!comp.LineEmpty()) comp.PrintLine(0);
    Dots dots = frame.Take(frameH);
    if (!page.area) {
      // Without ESC W the page is as long as what was put on it.
      if (sideways) {
        Dots used(dots.RightmostDark() + 1, dots.h);
        used.Blit(dots, 0, 0);
        dots = std::move(used);
      } else {
        dots = frame.Take(comp.Top());
      }
    }
    if (direction == 1) dots = dots.RotatedCounterclockwise();
    if (direction == 2) dots = dots.Rotated180();
    if (direction == 3) dots = dots.RotatedClockwise();
    if (!composer_->LineEmpty()) composer_->PrintLine(modes_.lineSpacing);
    composer_->Feed(2 * y);
    composer_->PlaceBlock(dots, kPrintOrigin + x);
    if (page.overflow)
      composer_->AddBlock(Note("page data beyond the page buffer dropped", kPrintWidth), 0, 0);
  }

  void Cut(const Command& c) {
    if (!composer_->LineEmpty()) composer_->PrintLine(0);
    // GS V 65/66 and the like feed n motion units before cutting.
    if (c.kind == CommandKind::Cut && c.args.size() > 1) composer_->Feed(c.Arg(1, 0));
    HandOver(true);
  }

  void HandOver(bool byCut) {
    ReceiptImage image;
    const bool cutOff = paper_->Clipped();
    const int height =
        cutOff ? maxHeight_
               : std::clamp(composer_->Top() + kBottomMargin, kTopMargin + kBottomMargin, maxHeight_);
    Dots dots = paper_->Take(height);
    if (cutOff) {
      // Said in white on a black band at the foot, over whatever was drawn there.
      constexpr int kBand = 28;
      dots.Fill(0, height - kBand, dots.w, height);
      const Dots text = TextDots("CUT OFF: LONGER THAN " + std::to_string(maxHeight_) + " DOTS", 1, dots.w);
      const int tx = (dots.w - text.w) / 2, ty = height - kBand + (kBand - text.h) / 2;
      for (int yy = 0; yy < text.h; ++yy) {
        for (int xx = 0; xx < text.w; ++xx) {
          if (text.Get(xx, yy)) dots.Set(tx + xx, ty + yy, false);
        }
      }
    }
    image.width = dots.w;
    image.height = dots.h;
    image.dots = std::move(dots.d);
    image.cut = byCut;
    image.cutOff = cutOff;
    NewPaper();
    sink_(std::move(image));
  }

  Sink sink_;
  int maxHeight_;
  Modes modes_;
  std::unique_ptr<Surface> paper_;
  std::unique_ptr<Composer> composer_;
  std::optional<Page> page_;
};

ReceiptRenderer::ReceiptRenderer(Sink sink, int maxHeight)
    : impl_(std::make_unique<Impl>(std::move(sink), maxHeight)) {}
ReceiptRenderer::~ReceiptRenderer() = default;
void ReceiptRenderer::Add(const Command& cmd) {
  impl_->Add(cmd);
}
void ReceiptRenderer::Finish() {
  impl_->Finish();
}
void ReceiptRenderer::PowerCycle() {
  impl_->PowerCycle();
}

std::vector<ReceiptImage> RenderReceipts(std::span<const Command> commands, size_t maxReceipts,
                                         int maxHeight) {
  std::vector<ReceiptImage> out;
  ReceiptRenderer renderer([&out](ReceiptImage&& image) { out.push_back(std::move(image)); }, maxHeight);
  for (const Command& c : commands) {
    if (out.size() >= maxReceipts) return out;
    renderer.Add(c);
  }
  if (out.size() < maxReceipts) renderer.Finish();
  return out;
}

}  // namespace vprinter
