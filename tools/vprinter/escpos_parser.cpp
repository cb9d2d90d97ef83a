#include "tools/vprinter/escpos_parser.h"

#include <utility>

namespace vprinter {

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;

// Parameters that accept both the binary and the ASCII-digit form (0/48, 1/49, ...).
bool in_pair_range(int n, int last) {
  return (n >= 0 && n <= last) || (n >= 48 && n <= 48 + last);
}
int pair_value(int n) {
  return n >= 48 ? n - 48 : n;
}

}  // namespace

EscPosParser::EscPosParser(Sink sink) : sink_(std::move(sink)) {
  head_.reserve(16);
}

void EscPosParser::reset() {
  style_ = Style{};
  phase_ = Phase::Idle;
  text_ = Command{};
  text_open_ = false;
  cur_ = Command{};
  head_.clear();
  payload_left_ = 0;
  terminated_max_ = 0;
  glyphs_left_ = 0;
  glyph_bytes_left_ = 0;
  glyph_width_next_ = true;
  image_defined_ = false;
  image_x_ = image_y_ = 0;
  image_.clear();
}

uint64_t EscPosParser::pending_bytes() const {
  return phase_ == Phase::Idle ? 0 : cur_.length;
}

void EscPosParser::feed(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) {
    pos_ = offset_++;
    step(b);
  }
  flush_text();
}

void EscPosParser::step(uint8_t byte) {
  switch (phase_) {
    case Phase::Idle:
      start_command(byte);
      break;
    case Phase::Head:
      head_byte(byte);
      break;
    case Phase::Payload:
      payload_byte(byte);
      break;
    case Phase::Terminated:
      terminated_byte(byte);
      break;
    case Phase::Glyphs:
      glyph_byte(byte);
      break;
  }
}

void EscPosParser::start_command(uint8_t byte) {
  if (byte >= 0x20) {
    if (text_open_ && text_.data.size() >= kMaxTextRun) flush_text();
    if (!text_open_) {
      text_ = Command{};
      text_.kind = CommandKind::Text;
      text_.offset = pos_;
      text_.style = style_;
      text_open_ = true;
    }
    text_.data.push_back(byte);
    ++text_.length;
    return;
  }
  flush_text();
  switch (byte) {
    case 0x0A:
      emit_single(CommandKind::LineFeed, byte);
      return;
    case 0x0D:
      emit_single(CommandKind::CarriageReturn, byte);
      return;
    case 0x09:
      emit_single(CommandKind::HorizontalTab, byte);
      return;
    case 0x0C:
      style_.page_mode = false;
      emit_single(CommandKind::FormFeed, byte);
      return;
    case 0x18:
      emit_single(CommandKind::Cancel, byte);
      return;
    case 0x07:
      emit_single(CommandKind::Bell, byte);
      return;
    case kEsc:
    case kFs:
    case kGs:
    case kDle:
      cur_ = Command{};
      cur_.offset = pos_;
      cur_.length = 1;
      head_.assign(1, byte);
      phase_ = Phase::Head;
      return;
    default:
      emit_single(CommandKind::Ignored, byte);
      return;
  }
}

void EscPosParser::emit_single(CommandKind kind, uint8_t byte) {
  Command c;
  c.kind = kind;
  c.offset = pos_;
  c.length = 1;
  c.head.assign(1, byte);
  c.style = style_;
  sink_(std::move(c));
}

void EscPosParser::flush_text() {
  if (!text_open_) return;
  text_open_ = false;
  sink_(std::move(text_));
  text_ = Command{};
}

EscPosParser::Layout EscPosParser::classify() const {
  using T = Layout::Type;
  const size_t have = head_.size();
  auto fixed = [have](size_t total) { return Layout{have < total ? T::NeedMore : T::Complete}; };
  if (have < 2) return {T::NeedMore};
  const uint8_t c = head_[1];
  switch (head_[0]) {
    case kEsc:
      switch (c) {
        case 0x0C:
        case '2':
        case '<':
        case '@':
        case 'L':
        case 'S':
        case 'i':
        case 'm':
          return fixed(2);
        case ' ':
        case '!':
        case '%':
        case '-':
        case '3':
        case '=':
        case '?':
        case 'E':
        case 'G':
        case 'J':
        case 'K':
        case 'M':
        case 'R':
        case 'T':
        case 'U':
        case 'V':
        case 'a':
        case 'd':
        case 'e':
        case 'r':
        case 't':
        case 'u':
        case '{':
          return fixed(3);
        case '$':
        case '\\':
        case 'c':
          return fixed(4);
        case 'p':
          return fixed(5);
        case 'W':
          return fixed(10);
        case '*': {
          if (have < 5) return {T::NeedMore};
          const uint64_t columns = head_[3] + 256u * head_[4];
          const uint64_t per_column = (head_[2] == 0 || head_[2] == 1) ? 1 : 3;
          return {T::Payload, columns * per_column};
        }
        case 'D':
          return {T::Terminated, 32};  // up to 32 tab positions, then NUL
        case '&':
          if (have < 5) return {T::NeedMore};
          return {T::Glyphs};
        default:
          return {T::Unknown, 2};
      }
    case kGs:
      switch (c) {
        case ':':
          return fixed(2);
        case '!':
        case '/':
        case 'B':
        case 'H':
        case 'I':
        case 'a':
        case 'b':
        case 'f':
        case 'h':
        case 'r':
        case 'w':
          return fixed(3);
        case '$':
        case 'L':
        case 'P':
        case 'W':
        case '\\':
          return fixed(4);
        case '^':
          return fixed(5);
        case 'V': {
          if (have < 3) return {T::NeedMore};
          const uint8_t m = head_[2];
          const bool with_feed = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
          return fixed(with_feed ? 4 : 3);
        }
        case 'k': {
          if (have < 3) return {T::NeedMore};
          const uint8_t m = head_[2];
          if (m <= 6) return {T::Terminated, 255};
          if (m >= 65 && m <= 79) {
            if (have < 4) return {T::NeedMore};
            return {T::Payload, head_[3]};
          }
          return {T::Complete};  // unsupported symbology: the data that follows prints as text
        }
        case '*':
          if (have < 4) return {T::NeedMore};
          return {T::Payload, uint64_t{head_[2]} * head_[3] * 8};
        case '(':
          if (have < 5) return {T::NeedMore};
          return {T::Payload, head_[3] + 256u * head_[4]};
        case 'v':
          if (have < 3) return {T::NeedMore};
          if (head_[2] != '0') return {T::Unknown, 2};
          if (have < 8) return {T::NeedMore};
          return {T::Payload, uint64_t{head_[4] + 256u * head_[5]} * (head_[6] + 256u * head_[7])};
        default:
          return {T::Unknown, 2};
      }
    case kFs:
      switch (c) {
        case '&':
        case '.':
          return fixed(2);
        case '!':
        case '-':
        case 'C':
        case 'W':
          return fixed(3);
        case 'S':
        case 'p':
          return fixed(4);
        default:
          return {T::Unknown, 2};
      }
    case kDle:
      switch (c) {
        case 0x04:
          if (have < 3) return {T::NeedMore};
          return fixed(head_[2] == 7 ? 4 : 3);
        case 0x05:
          return fixed(3);
        case 0x14:
          if (have < 3) return {T::NeedMore};
          switch (head_[2]) {
            case 1:
            case 2:
              return fixed(5);
            case 7:
              return fixed(4);
            case 8:
              return fixed(10);
            default:
              return {T::Unknown, 3};
          }
        default:
          return {T::Unknown, 1};  // a lone DLE; the next byte starts afresh
      }
    default:
      return {T::Unknown, 1};
  }
}

void EscPosParser::head_byte(uint8_t byte) {
  head_.push_back(byte);
  ++cur_.length;
  const Layout layout = classify();
  switch (layout.type) {
    case Layout::Type::NeedMore:
      return;
    case Layout::Type::Complete:
      decode_head();
      finish_command();
      return;
    case Layout::Type::Payload:
      decode_head();
      payload_left_ = layout.count;
      if (payload_left_ == 0) {
        finish_command();
      } else {
        phase_ = Phase::Payload;
      }
      return;
    case Layout::Type::Terminated:
      decode_head();
      terminated_max_ = layout.count;
      phase_ = Phase::Terminated;
      return;
    case Layout::Type::Glyphs: {
      decode_head();
      const int y = head_[2], c1 = head_[3], c2 = head_[4];
      if (y < 1 || y > 3 || c1 < 32 || c2 > 126 || c1 > c2) {
        cur_.valid = false;  // the printer ignores the definition; what follows is ordinary data
        finish_command();
        return;
      }
      glyph_height_ = static_cast<uint32_t>(y);
      glyphs_left_ = static_cast<uint32_t>(c2 - c1 + 1);
      glyph_width_next_ = true;
      phase_ = Phase::Glyphs;
      return;
    }
    case Layout::Type::Unknown: {
      const size_t taken = static_cast<size_t>(layout.count);
      std::vector<uint8_t> rest(head_.begin() + static_cast<std::ptrdiff_t>(taken), head_.end());
      cur_.kind = CommandKind::Unknown;
      cur_.valid = false;
      cur_.head.assign(head_.begin(), head_.begin() + static_cast<std::ptrdiff_t>(taken));
      cur_.length = taken;
      const uint64_t base = cur_.offset + taken;
      finish_command();
      // The bytes after an unknown prefix are looked at again as the start of new input.
      for (size_t i = 0; i < rest.size(); ++i) {
        pos_ = base + i;
        step(rest[i]);
      }
      return;
    }
  }
}

void EscPosParser::store_payload(uint8_t byte) {
  if (cur_.data.size() < kMaxStoredPayload) {
    cur_.data.push_back(byte);
  } else {
    cur_.truncated = true;
  }
}

void EscPosParser::payload_byte(uint8_t byte) {
  store_payload(byte);
  ++cur_.length;
  if (--payload_left_ == 0) finish_command();
}

void EscPosParser::terminated_byte(uint8_t byte) {
  if (byte == 0) {
    ++cur_.length;
    finish_command();
    return;
  }
  if (cur_.data.size() >= terminated_max_) {
    // No NUL within the limit: the command ends here and this byte is ordinary data.
    if (cur_.kind == CommandKind::Barcode) cur_.valid = false;
    finish_command();
    step(byte);
    return;
  }
  store_payload(byte);
  ++cur_.length;
}

void EscPosParser::glyph_byte(uint8_t byte) {
  store_payload(byte);
  ++cur_.length;
  bool glyph_done = false;
  if (glyph_width_next_) {
    glyph_bytes_left_ = uint64_t{glyph_height_} * byte;
    glyph_width_next_ = false;
    glyph_done = glyph_bytes_left_ == 0;
  } else {
    glyph_done = --glyph_bytes_left_ == 0;
  }
  if (glyph_done) {
    glyph_width_next_ = true;
    if (--glyphs_left_ == 0) finish_command();
  }
}

void EscPosParser::decode_head() {
  cur_.head = head_;
  const uint8_t c = head_[1];
  const int n = head_.size() > 2 ? head_[2] : 0;
  auto one = [&](CommandKind kind, bool valid = true) {
    cur_.kind = kind;
    cur_.args = {n};
    cur_.valid = valid;
  };
  cur_.kind = CommandKind::OtherKnown;
  switch (head_[0]) {
    case kEsc:
      switch (c) {
        case '@':
          cur_.kind = CommandKind::Initialize;
          break;
        case '!':
          one(CommandKind::PrintMode);
          break;
        case '-':
          one(CommandKind::Underline, in_pair_range(n, 2));
          break;
        case 'E':
          one(CommandKind::Emphasis);
          break;
        case 'G':
          one(CommandKind::DoubleStrike);
          break;
        case 'a':
          one(CommandKind::Justification, in_pair_range(n, 2));
          break;
        case '3':
          one(CommandKind::LineSpacing);
          break;
        case '2':
          cur_.kind = CommandKind::DefaultLineSpacing;
          break;
        case 'd':
          one(CommandKind::FeedLines);
          break;
        case 'J':
          one(CommandKind::FeedDots);
          break;
        case 'M':
          one(CommandKind::SelectFont, in_pair_range(n, 2));
          break;
        case 'r':
          one(CommandKind::PrintColor, in_pair_range(n, 1));
          break;
        case 't':
          one(CommandKind::CodeTable);
          break;
        case 'R':
          one(CommandKind::InternationalSet);
          break;
        case '{':
          one(CommandKind::UpsideDown);
          break;
        case 'V':
          one(CommandKind::Rotate90, in_pair_range(n, 2));
          break;
        case ' ':
          one(CommandKind::RightSpacing);
          break;
        case 'L':
          cur_.kind = CommandKind::PageMode;
          break;
        case 'T':
          one(CommandKind::PrintDirection, in_pair_range(n, 3));
          break;
        case 'W':
          cur_.kind = CommandKind::PrintArea;
          cur_.args = {head_[2] + 256 * head_[3], head_[4] + 256 * head_[5], head_[6] + 256 * head_[7],
                       head_[8] + 256 * head_[9]};
          cur_.valid = cur_.args[2] > 0 && cur_.args[3] > 0;
          break;
        case 0x0C:
          cur_.kind = CommandKind::PrintPage;
          break;
        case 'S':
          cur_.kind = CommandKind::StandardMode;
          break;
        case 'm':
          cur_.kind = CommandKind::PartialCut;
          break;
        case 'i':
          cur_.kind = CommandKind::FullCut;
          break;
        case 'p': {
          cur_.kind = CommandKind::DrawerKick;
          cur_.valid = in_pair_range(n, 1);
          const int pin = cur_.valid ? (pair_value(n) == 0 ? 2 : 5) : 0;
          cur_.args = {pin, head_[3], head_[4]};
          break;
        }
        case '*':
          cur_.kind = CommandKind::BitImage;
          cur_.args = {n, head_[3] + 256 * head_[4]};
          cur_.valid = n == 0 || n == 1 || n == 32 || n == 33;
          break;
        default:
          break;
      }
      break;
    case kGs:
      switch (c) {
        case '!':
          one(CommandKind::CharacterSize, (n & 0x0F) < 8 && (n >> 4) < 8);
          break;
        case 'B':
          one(CommandKind::Reverse);
          break;
        case 'f':
          one(CommandKind::HriFont, in_pair_range(n, 1));
          break;
        case 'w':
          one(CommandKind::BarcodeWidth, n >= 1 && n <= 6);
          break;
        case 'h':
          one(CommandKind::BarcodeHeight, n >= 1);
          break;
        case 'H':
          one(CommandKind::HriPosition, in_pair_range(n, 3));
          break;
        case 'a':
          one(CommandKind::AutoStatusBack);
          break;
        case '/':
          one(CommandKind::PrintImage, in_pair_range(n, 3));
          break;
        case 'k':
          cur_.kind = CommandKind::Barcode;
          cur_.args = {n};
          if (head_.size() > 3) cur_.args.push_back(head_[3]);
          cur_.valid = n <= 6 || (n >= 65 && n <= 79);
          break;
        case '*': {
          cur_.kind = CommandKind::DefineImage;
          const int x = head_[2], y = head_[3];
          cur_.args = {x, y};
          cur_.valid = x >= 1 && y >= 1 && y <= 48 && x * y <= 1536;
          break;
        }
        case 'V': {
          cur_.kind = CommandKind::Cut;
          cur_.args = {n};
          if (head_.size() > 3) cur_.args.push_back(head_[3]);
          cur_.valid = n == 0 || n == 1 || n == 48 || n == 49 || head_.size() > 3;
          break;
        }
        case '(':
          cur_.kind = CommandKind::ExtendedCommand;
          cur_.args = {n, head_[3] + 256 * head_[4]};
          break;
        case 'v':
          cur_.kind = CommandKind::RasterImage;
          cur_.args = {head_[3], head_[4] + 256 * head_[5], head_[6] + 256 * head_[7]};
          cur_.valid = in_pair_range(head_[3], 3);
          break;
        default:
          break;
      }
      break;
    case kFs:
      if (c == 'p') {
        cur_.kind = CommandKind::PrintNvLogo;
        cur_.args = {n, head_[3]};
        cur_.valid = n >= 1 && in_pair_range(head_[3], 3);
      }
      break;
    case kDle:
      if (c == 0x04) {
        one(CommandKind::RealTimeStatus, (n >= 1 && n <= 4) || n == 7);
        if (head_.size() > 3) cur_.args.push_back(head_[3]);
      } else if (c == 0x05) {
        one(CommandKind::RealTimeRequest, n >= 1 && n <= 2);
      } else if (c == 0x14) {
        cur_.kind = CommandKind::RealTimePulse;
        cur_.args.assign(head_.begin() + 2, head_.end());
      }
      break;
    default:
      break;
  }
}

void EscPosParser::apply_print_mode(uint8_t n) {
  style_.font = n & 0x01;
  style_.emphasized = (n & 0x08) != 0;
  style_.height = (n & 0x10) ? 2 : 1;
  style_.width = (n & 0x20) ? 2 : 1;
  style_.underline = (n & 0x80) ? 1 : 0;
}

void EscPosParser::finish_command() {
  phase_ = Phase::Idle;
  head_.clear();
  Command& c = cur_;
  const int n = c.arg(0, 0);
  switch (c.kind) {
    case CommandKind::Initialize:
      style_ = Style{};
      image_defined_ = false;  // ESC @ clears the downloaded bit image
      image_.clear();
      break;
    case CommandKind::PrintMode:
      apply_print_mode(static_cast<uint8_t>(n));
      break;
    case CommandKind::CharacterSize:
      if (c.valid) {
        style_.width = static_cast<uint8_t>((n >> 4) + 1);
        style_.height = static_cast<uint8_t>((n & 0x0F) + 1);
      }
      break;
    case CommandKind::Justification:
      if (c.valid) style_.justification = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::Underline:
      if (c.valid) style_.underline = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::Emphasis:
      style_.emphasized = (n & 1) != 0;
      break;
    case CommandKind::DoubleStrike:
      style_.double_strike = (n & 1) != 0;
      break;
    case CommandKind::Reverse:
      style_.reverse = (n & 1) != 0;
      break;
    case CommandKind::UpsideDown:
      style_.upside_down = (n & 1) != 0;
      break;
    case CommandKind::LineSpacing:
      style_.line_spacing = static_cast<uint8_t>(n);
      break;
    case CommandKind::DefaultLineSpacing:
      style_.line_spacing = 30;
      break;
    case CommandKind::SelectFont:
      if (c.valid) style_.font = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::PrintColor:
      if (c.valid) style_.color = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::CodeTable:
      style_.code_table = static_cast<uint8_t>(n);
      break;
    case CommandKind::InternationalSet:
      style_.international = static_cast<uint8_t>(n);
      break;
    case CommandKind::Rotate90:
      if (c.valid) style_.rotated90 = pair_value(n) != 0;
      break;
    case CommandKind::RightSpacing:
      style_.right_spacing = static_cast<uint8_t>(n);
      break;
    case CommandKind::HriFont:
      if (c.valid) style_.hri_font = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::HriPosition:
      if (c.valid) style_.hri_position = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::BarcodeWidth:
      if (c.valid) style_.barcode_module = static_cast<uint8_t>(n);
      break;
    case CommandKind::BarcodeHeight:
      if (c.valid) style_.barcode_height = static_cast<uint8_t>(n);
      break;
    case CommandKind::PageMode:
      style_.page_mode = true;
      break;
    case CommandKind::StandardMode:
      style_.page_mode = false;
      break;
    case CommandKind::PrintDirection:
      if (c.valid) style_.print_direction = static_cast<uint8_t>(pair_value(n));
      break;
    case CommandKind::DefineImage:
      if (c.valid && !c.truncated) {
        image_defined_ = true;
        image_x_ = c.args[0];
        image_y_ = c.args[1];
        image_ = c.data;
      }
      break;
    case CommandKind::PrintImage:
      if (image_defined_) {
        c.args = {n, image_x_, image_y_};
        c.data = image_;
      } else {
        c.valid = false;  // nothing downloaded: the printer prints nothing
      }
      break;
    case CommandKind::ExtendedCommand:
      // GS ( H fn 48 m 48 with four ID bytes asks for a process-ID response.
      if (c.arg(0) == 'H' && c.data.size() >= 2 && c.data[0] == 0x30) {
        if (c.arg(1) == 6 && c.data[1] == 0x30) {
          c.kind = CommandKind::ProcessIdRequest;
          c.data.erase(c.data.begin(), c.data.begin() + 2);
        } else {
          c.valid = false;
        }
      }
      break;
    case CommandKind::OtherKnown:
      if (c.valid && c.head.size() >= 2 && c.head[0] == kEsc && c.head[1] == '&') {
        image_defined_ = false;  // user-defined characters share the image memory
        image_.clear();
      }
      break;
    default:
      break;
  }
  c.style = style_;
  Command done = std::move(cur_);
  cur_ = Command{};
  sink_(std::move(done));
}

}  // namespace vprinter
