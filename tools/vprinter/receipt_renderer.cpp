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
int pair_value(int n) {
  return n >= 48 ? n - 48 : n;
}
int le16(const std::vector<uint8_t>& b, size_t i) {
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

  bool get(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && d[index(x, y)] != 0; }
  void set(int x, int y, bool on = true) {
    if (x >= 0 && y >= 0 && x < w && y < h) d[index(x, y)] = on ? 1 : 0;
  }
  void fill(int x0, int y0, int x1, int y1, bool on = true) {
    for (int y = std::max(y0, 0); y < std::min(y1, h); ++y) {
      for (int x = std::max(x0, 0); x < std::min(x1, w); ++x) d[index(x, y)] = on ? 1 : 0;
    }
  }
  // ORs src in with its top left corner at (x, y); what falls outside is dropped.
  void blit(const Dots& src, int x, int y) {
    for (int sy = 0; sy < src.h; ++sy) {
      const int ty = y + sy;
      if (ty < 0 || ty >= h) continue;
      for (int sx = 0; sx < src.w; ++sx) {
        if (src.d[src.index(sx, sy)] != 0) set(x + sx, ty);
      }
    }
  }
  Dots rotated180() const {
    Dots r(w, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.index(w - 1 - x, h - 1 - y)] = d[index(x, y)];
    }
    return r;
  }
  Dots rotated_clockwise() const {
    Dots r(h, w);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.index(h - 1 - y, x)] = d[index(x, y)];
    }
    return r;
  }
  Dots rotated_counterclockwise() const {
    Dots r(h, w);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) r.d[r.index(y, w - 1 - x)] = d[index(x, y)];
    }
    return r;
  }
  int rightmost_dark() const {
    int right = -1;
    for (int y = 0; y < h; ++y) {
      for (int x = w - 1; x > right; --x) {
        if (d[index(x, y)] != 0) right = x;
      }
    }
    return right;
  }

 private:
  size_t index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
  }
};

// Where dots land: a fixed width and a height that grows with the content up to a limit.
class Surface {
 public:
  Surface(int width, int max_height) : width_(width), max_height_(max_height) {}

  int width() const { return width_; }
  int max_height() const { return max_height_; }
  bool clipped() const { return clipped_; }
  void mark_clipped() { clipped_ = true; }

  void place(const Dots& src, int x, int y) {
    if (y + src.h > max_height_) clipped_ = true;
    const int bottom = std::min(y + src.h, max_height_);
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
        if (tx >= 0 && tx < width_ && src.get(sx, sy))
          dots_[static_cast<size_t>(ty) * static_cast<size_t>(width_) + static_cast<size_t>(tx)] = 1;
      }
    }
  }

  // The top height rows as dots (rows never drawn are white).
  Dots take(int height) const {
    Dots out(width_, std::clamp(height, 0, max_height_));
    const size_t n = std::min(out.d.size(), dots_.size());
    std::copy(dots_.begin(), dots_.begin() + static_cast<std::ptrdiff_t>(n), out.d.begin());
    return out;
  }

 private:
  int width_;
  int max_height_;
  int rows_ = 0;
  bool clipped_ = false;
  std::vector<uint8_t> dots_;
};

// The printer's settings that are not carried in each command's Style.
struct Modes {
  int line_spacing = kDefaultLineSpacing;          // half dots
  int left_margin = 0;                             // GS L, dots from the print origin
  int print_width = ReceiptRenderer::kPrintWidth;  // GS W
  bool default_tabs = true;                        // every 8 columns until ESC D
  std::vector<int> tabs;                           // ESC D columns, ascending
};

struct FontSize {
  int w;
  int h;
};
FontSize font_size(uint8_t font) {
  return font == 1 ? FontSize{9, 17} : FontSize{12, 24};
}
int width_mul(const Style& s) {
  return std::clamp<int>(s.width, 1, 8);
}
int height_mul(const Style& s) {
  return std::clamp<int>(s.height, 1, 8);
}

// The dots of one character in its cell, before any size, style or rotation.
Dots base_glyph(uint8_t ch, uint8_t font, uint8_t code_table) {
  const FontSize f = font_size(font);
  Dots g(f.w, f.h);
  if (ch >= 0x80) {
    const std::vector<uint8_t> dots = code_page_glyph(code_table, ch, f.w, f.h);
    if (!dots.empty()) {
      for (int y = 0; y < f.h; ++y) {
        for (int x = 0; x < f.w; ++x) {
          if (dots[static_cast<size_t>(y * f.w + x)]) g.set(x, y);
        }
      }
      return g;
    }
  }
  if (!has_glyph(ch)) {
    // No shape for this byte in the built-in table: an outlined box stands in for it.
    for (int x = 1; x < f.w - 2; ++x) {
      g.set(x, 1);
      g.set(x, f.h - 3);
    }
    for (int y = 1; y < f.h - 2; ++y) {
      g.set(1, y);
      g.set(f.w - 3, y);
    }
    return g;
  }
  // Font B's 17th row stays blank; the 6 x 8 cell stretches over the rest.
  const int rows = font == 1 ? f.h - 1 : f.h;
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < f.w; ++x) {
      if (glyph_dot(ch, x * kGlyphCellColumns / f.w, y * kGlyphRows / rows)) g.set(x, y);
    }
  }
  return g;
}

int char_advance(const Style& s) {
  return (font_size(s.font).w + s.right_spacing) * width_mul(s);
}

// A character as it goes on the line: enlarged, emphasised, underlined, rotated,
// reversed, with its right-side spacing.
Dots glyph_cell(uint8_t ch, const Style& s) {
  const Dots base = base_glyph(ch, s.font, s.code_table);
  const int wm = width_mul(s), hm = height_mul(s);
  Dots g(base.w * wm, base.h * hm);
  for (int y = 0; y < g.h; ++y) {
    for (int x = 0; x < g.w; ++x) {
      if (base.get(x / wm, y / hm)) g.set(x, y);
    }
  }
  if (s.emphasized || s.double_strike) {
    // Struck a second time one dot to the right.
    for (int y = 0; y < g.h; ++y) {
      for (int x = g.w - 1; x > 0; --x) {
        if (g.get(x - 1, y)) g.set(x, y);
      }
    }
  }
  if (s.rotated90) g = g.rotated_clockwise();
  Dots cell(g.w + s.right_spacing * wm, g.h);
  cell.blit(g, 0, 0);
  // The printer does not underline characters turned by 90 degrees.
  if (s.underline > 0 && !s.rotated90) cell.fill(0, cell.h - std::min<int>(s.underline, 2), cell.w, cell.h);
  if (s.reverse) {
    for (auto& v : cell.d) v = v ? 0 : 1;
  }
  return cell;
}

// Plain text in font A or B, cut at max_width, for notes and barcode text.
Dots text_dots(std::string_view text, uint8_t font, int max_width) {
  Style s;
  s.font = font;
  const int adv = char_advance(s);
  const int n = std::min<int>(static_cast<int>(text.size()), std::max(max_width, 0) / adv);
  Dots out(n * adv, font_size(font).h);
  for (int i = 0; i < n; ++i)
    out.blit(glyph_cell(static_cast<uint8_t>(text[static_cast<size_t>(i)]), s), i * adv, 0);
  return out;
}

// Lays lines and blocks down a surface, the way standard mode fills the paper.
class Composer {
 public:
  Composer(Surface& surface, int top) : surface_(surface), y2_(2 * static_cast<int64_t>(top)) {}

  void set_area(int left, int width) {
    left_ = std::clamp(left, 0, surface_.width());
    width_ = std::clamp(width, 0, surface_.width() - left_);
  }
  int area_width() const { return width_; }
  int top() const { return static_cast<int>(y2_ / 2); }
  bool line_empty() const { return items_.empty() && x_ == 0; }
  bool printed() const { return printed_; }

  // One character: a line that cannot take it is printed first.
  void add_char(uint8_t ch, const Style& s, int line_spacing) {
    const int adv = char_advance(s);
    const int adv_rot =
        s.rotated90 ? font_size(s.font).h * height_mul(s) + s.right_spacing * width_mul(s) : adv;
    if (adv_rot > width_) return;  // wider than the whole area: the printer skips it
    if (x_ + adv_rot > width_) print_line(line_spacing);
    add_item(glyph_cell(ch, s), s);
  }

  // A bit image inside the line; what passes the right edge of the area is dropped.
  void add_inline(const Dots& image, const Style& s) {
    const int room = width_ - x_;
    if (room <= 0) return;
    if (image.w <= room) {
      add_item(image, s);
      return;
    }
    Dots part(room, image.h);
    part.blit(image, 0, 0);
    add_item(part, s);
  }

  void move_to(int x) {
    if (x >= 0 && x <= width_) x_ = x;
  }
  int x() const { return x_; }

  // Prints the line buffer and feeds: the line spacing, but never less than the line is tall.
  void print_line(int feed_half_dots) {
    int height = 0, extent = x_;
    for (const Item& it : items_) {
      height = std::max(height, it.dots.h);
      extent = std::max(extent, it.x + it.dots.w);
    }
    if (!items_.empty()) {
      const int offset = line_style_.justification == 1   ? (width_ - extent) / 2
                         : line_style_.justification == 2 ? width_ - extent
                                                          : 0;
      Dots line(width_, height);
      // Characters of different heights share their bottom line.
      for (const Item& it : items_) line.blit(it.dots, std::max(offset, 0) + it.x, height - it.dots.h);
      if (line_style_.upside_down) line = line.rotated180();
      surface_.place(line, left_, top());
      printed_ = true;
    }
    advance(std::max<int64_t>(feed_half_dots, 2 * static_cast<int64_t>(height)));
    items_.clear();
    x_ = 0;
  }

  void discard_line() {
    items_.clear();
    x_ = 0;
  }

  void feed(int half_dots) { advance(half_dots); }

  // An image, barcode or logo: printed on its own below any pending line, at the
  // justification in force; the paper moves on by its height.
  void add_block(const Dots& block, int justification, int line_spacing) {
    if (!line_empty()) print_line(line_spacing);
    const int offset = justification == 1   ? (width_ - block.w) / 2
                       : justification == 2 ? width_ - block.w
                                            : 0;
    place_block(block, left_ + std::max(offset, 0));
  }

  // A block at an absolute x on the surface (page-mode pages).
  void place_block(const Dots& block, int x) {
    if (block.w > 0 && block.h > 0) {
      surface_.place(block, x, top());
      printed_ = true;
    }
    advance(2 * static_cast<int64_t>(block.h));
  }

 private:
  struct Item {
    int x;
    Dots dots;
  };

  void add_item(Dots dots, const Style& s) {
    if (items_.empty()) line_style_ = s;  // justification and upside-down count from the line's start
    const int w = dots.w;
    items_.push_back(Item{x_, std::move(dots)});
    x_ += w;
  }

  void advance(int64_t half_dots) {
    y2_ += std::max<int64_t>(half_dots, 0);
    const int64_t limit = 2 * static_cast<int64_t>(surface_.max_height());
    if (y2_ > limit) {
      y2_ = limit;
      surface_.mark_clipped();
    }
  }

  Surface& surface_;
  int left_ = 0;
  int width_ = 0;
  int64_t y2_;  // the next line's top, in half dots
  int x_ = 0;
  Style line_style_;
  std::vector<Item> items_;
  bool printed_ = false;
};

// GS v 0: rows of bytes, leftmost dot in bit 7; m doubles width (1), height (2) or both (3).
Dots raster_image(const Command& c, int max_w, int max_h) {
  const int m = pair_value(c.arg(0, 0)), bytes_per_row = c.arg(1, 0), rows = c.arg(2, 0);
  const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
  const int64_t full_w = int64_t{bytes_per_row} * 8 * sx, full_h = int64_t{rows} * sy;
  Dots out(static_cast<int>(std::min<int64_t>(full_w, max_w)),
           static_cast<int>(std::min<int64_t>(full_h, max_h)));
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int px = x / sx, py = y / sy;
      const size_t at =
          static_cast<size_t>(py) * static_cast<size_t>(bytes_per_row) + static_cast<size_t>(px / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - px % 8)) & 1)) out.set(x, y);
    }
  }
  return out;
}

// GS / of the GS * image: x * 8 columns of y bytes each, top dot in bit 7.
Dots downloaded_image(const Command& c, int max_w) {
  const int m = pair_value(c.arg(0, 0)), xb = c.arg(1, 0), yb = c.arg(2, 0);
  const int sx = (m & 1) ? 2 : 1, sy = (m & 2) ? 2 : 1;
  Dots out(std::min(xb * 8 * sx, max_w), yb * 8 * sy);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int col = x / sx, row = y / sy;
      const size_t at = static_cast<size_t>(col) * static_cast<size_t>(yb) + static_cast<size_t>(row / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - row % 8)) & 1)) out.set(x, y);
    }
  }
  return out;
}

// ESC *: columns of one byte (8-dot modes) or three bytes (24-dot modes), top dot in
// bit 7. The 8-dot modes print each dot three dots tall; single density two dots wide.
Dots bit_image(const Command& c, int max_w) {
  const int m = c.arg(0, 0), columns = c.arg(1, 0);
  const bool tall = m == 32 || m == 33;
  const int per_column = tall ? 3 : 1;
  const int sx = (m == 0 || m == 32) ? 2 : 1, sy = tall ? 1 : 3;
  Dots out(std::min(columns * sx, max_w), 8 * per_column * sy);
  for (int y = 0; y < out.h; ++y) {
    for (int x = 0; x < out.w; ++x) {
      const int col = x / sx, row = y / sy;
      const size_t at =
          static_cast<size_t>(col) * static_cast<size_t>(per_column) + static_cast<size_t>(row / 8);
      if (at < c.data.size() && ((c.data[at] >> (7 - row % 8)) & 1)) out.set(x, y);
    }
  }
  return out;
}

Dots boxed_label(int w, int h, const std::string& label) {
  Dots box(w, h);
  box.fill(0, 0, w, 2);
  box.fill(0, h - 2, w, h);
  box.fill(0, 0, 2, h);
  box.fill(w - 2, 0, w, h);
  const Dots text = text_dots(label, 0, w - 8);
  box.blit(text, (w - text.w) / 2, (h - text.h) / 2);
  return box;
}

// FS p: the logo's dots live only in the real printer, so a labelled box stands in.
Dots nv_logo(const Command& c) {
  const int m = pair_value(c.arg(1, 0));
  return boxed_label(256 * ((m & 1) ? 2 : 1), 80 * ((m & 2) ? 2 : 1),
                     "NV logo " + std::to_string(c.arg(0, 0)));
}

Dots note(const std::string& text, int max_w) {
  return text_dots("[" + text + "]", 1, max_w);
}

// GS k with the module width, height and text position in force.
Dots barcode(const Command& c, int max_w) {
  const BarcodeBars bars = encode_barcode(c.arg(0, 0), c.data);
  if (!bars.error.empty()) return note("barcode: " + bars.error, max_w);
  const Style& s = c.style;
  const int module = std::clamp<int>(s.barcode_module, 1, 6);
  const int bars_w = static_cast<int>(bars.modules.size()) * module;
  if (bars_w > max_w) return note("barcode wider than the print area", max_w);
  const int height = std::max<int>(s.barcode_height, 1);
  const uint8_t hri_font = s.hri_font == 1 ? 1 : 0;
  constexpr int kGap = 2;
  const Dots text = s.hri_position != 0 ? text_dots(bars.text, hri_font, max_w) : Dots();
  const bool above = s.hri_position == 1 || s.hri_position == 3,
             below = s.hri_position == 2 || s.hri_position == 3;
  const int above_h = above ? text.h + kGap : 0, below_h = below ? text.h + kGap : 0;
  Dots out(std::max(bars_w, text.w), above_h + height + below_h);
  const int bars_x = (out.w - bars_w) / 2;
  for (size_t i = 0; i < bars.modules.size(); ++i) {
    if (bars.modules[i])
      out.fill(bars_x + static_cast<int>(i) * module, above_h, bars_x + static_cast<int>(i + 1) * module,
               above_h + height);
  }
  if (above) out.blit(text, (out.w - text.w) / 2, 0);
  if (below) out.blit(text, (out.w - text.w) / 2, above_h + height + kGap);
  return out;
}

bool is_head(const Command& c, uint8_t a, uint8_t b) {
  return c.head.size() >= 2 && c.head[0] == a && c.head[1] == b;
}

}  // namespace

class ReceiptRenderer::Impl {
 public:
  Impl(Sink sink, int max_height) : sink_(std::move(sink)), max_height_(std::max(max_height, kMinMaxHeight)) {
    new_paper();
  }

  void add(const Command& c) {
    if (page_) {
      page_command(c);
      return;
    }
    switch (c.kind) {
      case CommandKind::PageMode:
        if (!composer_->line_empty()) composer_->print_line(modes_.line_spacing);
        page_.emplace();
        break;
      case CommandKind::PartialCut:
      case CommandKind::FullCut:
      case CommandKind::Cut:
        cut(c);
        break;
      case CommandKind::Initialize:
        reset_modes();
        break;
      case CommandKind::OtherKnown:
        if (is_head(c, 0x1D, 'L') || is_head(c, 0x1D, 'W')) {
          // The printer takes a new margin or width only at the start of a line.
          if (!composer_->line_empty()) break;
          if (is_head(c, 0x1D, 'L')) modes_.left_margin = le16(c.head, 2);
          if (is_head(c, 0x1D, 'W')) modes_.print_width = le16(c.head, 2);
          apply_area();
          break;
        }
        content(c, *composer_, modes_);
        break;
      default:
        content(c, *composer_, modes_);
        break;
    }
  }

  void finish() {
    if (!composer_->line_empty()) composer_->print_line(0);
    if (composer_->printed()) hand_over(false);
  }

  void power_cycle() { reset_modes(); }

 private:
  struct Page {
    std::vector<Command> commands;
    size_t payload = 0;
    bool overflow = false;
    std::optional<std::array<int, 4>> area;  // x, y, dx, dy
  };

  void new_paper() {
    paper_ = std::make_unique<Surface>(kPaperWidth, max_height_);
    composer_ = std::make_unique<Composer>(*paper_, kTopMargin);
    apply_area();
  }

  void apply_area() { composer_->set_area(kPrintOrigin + modes_.left_margin, modes_.print_width); }

  // ESC @ and power-on: modes back to their defaults, unprinted data gone.
  void reset_modes() {
    modes_ = Modes{};
    composer_->discard_line();
    page_.reset();
    apply_area();
  }

  // The commands that put dots on paper, in standard mode and inside a page alike.
  void content(const Command& c, Composer& comp, Modes& modes) {
    switch (c.kind) {
      case CommandKind::Text:
        for (uint8_t b : c.data) comp.add_char(b, c.style, modes.line_spacing);
        break;
      case CommandKind::LineFeed:
        comp.print_line(modes.line_spacing);
        break;
      case CommandKind::FeedLines: {
        const int n = c.arg(0, 0);
        if (!comp.line_empty())
          comp.print_line(n > 0 ? modes.line_spacing : 0);
        else if (n > 0)
          comp.feed(modes.line_spacing);
        for (int i = 1; i < n; ++i) comp.feed(modes.line_spacing);
        break;
      }
      case CommandKind::FeedDots:
        if (!comp.line_empty())
          comp.print_line(c.arg(0, 0));
        else
          comp.feed(c.arg(0, 0));
        break;
      case CommandKind::LineSpacing:
        modes.line_spacing = c.arg(0, 0);
        break;
      case CommandKind::DefaultLineSpacing:
        modes.line_spacing = kDefaultLineSpacing;
        break;
      case CommandKind::HorizontalTab:
        tab(c.style, comp, modes);
        break;
      case CommandKind::BitImage:
        if (c.valid) comp.add_inline(bit_image(c, comp.area_width()), c.style);
        break;
      case CommandKind::RasterImage:
        if (c.valid)
          comp.add_block(raster_image(c, comp.area_width(), max_height_), c.style.justification,
                         modes.line_spacing);
        break;
      case CommandKind::PrintImage:
        if (c.valid)
          comp.add_block(downloaded_image(c, comp.area_width()), c.style.justification, modes.line_spacing);
        break;
      case CommandKind::PrintNvLogo:
        if (c.valid) comp.add_block(nv_logo(c), c.style.justification, modes.line_spacing);
        break;
      case CommandKind::Barcode:
        comp.add_block(barcode(c, comp.area_width()), c.style.justification, modes.line_spacing);
        break;
      case CommandKind::OtherKnown:
        if (is_head(c, 0x1B, '$')) comp.move_to(le16(c.head, 2));
        if (is_head(c, 0x1B, '\\')) comp.move_to(comp.x() + static_cast<int16_t>(le16(c.head, 2)));
        if (is_head(c, 0x1B, 'D')) {
          modes.default_tabs = false;
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

  void tab(const Style& s, Composer& comp, const Modes& modes) {
    const int column = std::max(char_advance(s), 1);
    const int current = comp.x() / column;
    int next = -1;
    if (modes.default_tabs) {
      next = (current / 8 + 1) * 8;
    } else {
      for (int t : modes.tabs) {
        if (t > current) {
          next = t;
          break;
        }
      }
    }
    if (next >= 0) comp.move_to(next * column);
  }

  void page_command(const Command& c) {
    Page& page = *page_;
    switch (c.kind) {
      case CommandKind::StandardMode:
        page_.reset();  // the page's data is dropped, not printed
        break;
      case CommandKind::Initialize:
        reset_modes();
        break;
      case CommandKind::Cancel:
        page.commands.clear();
        page.payload = 0;
        break;
      case CommandKind::PrintArea:
        if (c.valid) page.area = std::array<int, 4>{c.arg(0), c.arg(1), c.arg(2), c.arg(3)};
        break;
      case CommandKind::PrintPage:
        print_page(c.style.print_direction);
        page.commands.clear();
        page.payload = 0;
        break;
      case CommandKind::FormFeed:
        print_page(c.style.print_direction);
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
  void print_page(int direction) {
    const Page& page = *page_;
    const bool sideways = direction == 1 || direction == 3;
    const int x = page.area ? std::clamp((*page.area)[0], 0, kPaperWidth - kPrintOrigin) : 0;
    const int y = page.area ? std::min((*page.area)[1], max_height_) : 0;
    const int dx = std::min(page.area ? (*page.area)[2] : modes_.print_width, kPaperWidth - kPrintOrigin - x);
    const int dy = std::min(page.area ? (*page.area)[3] : kDefaultPageHeight, max_height_);
    const int frame_w = sideways ? dy : dx, frame_h = sideways ? dx : dy;
    Surface frame(frame_w, frame_h);
    Composer comp(frame, 0);
    comp.set_area(0, frame_w);
    Modes modes = modes_;
    for (const Command& c : page.commands) content(c, comp, modes);
    if (!comp.line_empty()) comp.print_line(0);
    Dots dots = frame.take(frame_h);
    if (!page.area) {
      // Without ESC W the page is as long as what was put on it.
      if (sideways) {
        Dots used(dots.rightmost_dark() + 1, dots.h);
        used.blit(dots, 0, 0);
        dots = std::move(used);
      } else {
        dots = frame.take(comp.top());
      }
    }
    if (direction == 1) dots = dots.rotated_counterclockwise();
    if (direction == 2) dots = dots.rotated180();
    if (direction == 3) dots = dots.rotated_clockwise();
    if (!composer_->line_empty()) composer_->print_line(modes_.line_spacing);
    composer_->feed(2 * y);
    composer_->place_block(dots, kPrintOrigin + x);
    if (page.overflow)
      composer_->add_block(note("page data beyond the page buffer dropped", kPrintWidth), 0, 0);
  }

  void cut(const Command& c) {
    if (!composer_->line_empty()) composer_->print_line(0);
    // GS V 65/66 and the like feed n motion units before cutting.
    if (c.kind == CommandKind::Cut && c.args.size() > 1) composer_->feed(c.arg(1, 0));
    hand_over(true);
  }

  void hand_over(bool by_cut) {
    ReceiptImage image;
    const bool cut_off = paper_->clipped();
    const int height =
        cut_off ? max_height_
                : std::clamp(composer_->top() + kBottomMargin, kTopMargin + kBottomMargin, max_height_);
    Dots dots = paper_->take(height);
    if (cut_off) {
      // Said in white on a black band at the foot, over whatever was drawn there.
      constexpr int kBand = 28;
      dots.fill(0, height - kBand, dots.w, height);
      const Dots text = text_dots("CUT OFF: LONGER THAN " + std::to_string(max_height_) + " DOTS", 1, dots.w);
      const int tx = (dots.w - text.w) / 2, ty = height - kBand + (kBand - text.h) / 2;
      for (int yy = 0; yy < text.h; ++yy) {
        for (int xx = 0; xx < text.w; ++xx) {
          if (text.get(xx, yy)) dots.set(tx + xx, ty + yy, false);
        }
      }
    }
    image.width = dots.w;
    image.height = dots.h;
    image.dots = std::move(dots.d);
    image.cut = by_cut;
    image.cut_off = cut_off;
    new_paper();
    sink_(std::move(image));
  }

  Sink sink_;
  int max_height_;
  Modes modes_;
  std::unique_ptr<Surface> paper_;
  std::unique_ptr<Composer> composer_;
  std::optional<Page> page_;
};

ReceiptRenderer::ReceiptRenderer(Sink sink, int max_height)
    : impl_(std::make_unique<Impl>(std::move(sink), max_height)) {}
ReceiptRenderer::~ReceiptRenderer() = default;
void ReceiptRenderer::add(const Command& cmd) {
  impl_->add(cmd);
}
void ReceiptRenderer::finish() {
  impl_->finish();
}
void ReceiptRenderer::power_cycle() {
  impl_->power_cycle();
}

std::vector<ReceiptImage> render_receipts(std::span<const Command> commands, size_t max_receipts,
                                          int max_height) {
  std::vector<ReceiptImage> out;
  ReceiptRenderer renderer([&out](ReceiptImage&& image) { out.push_back(std::move(image)); }, max_height);
  for (const Command& c : commands) {
    if (out.size() >= max_receipts) return out;
    renderer.add(c);
  }
  if (out.size() < max_receipts) renderer.finish();
  return out;
}

}  // namespace vprinter
