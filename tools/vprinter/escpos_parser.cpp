#include "tools/vprinter/escpos_parser.h"

#include <utility>

namespace vprinter {

namespace {

constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;

// Parameters that accept both the binary and the ASCII-digit form (0/48, 1/49, ...).
bool InPairRange(int n, int last) {
  return (n >= 0 && n <= last) || (n >= 48 && n <= 48 + last);
}
int PairValue(int n) {
  return n >= 48 ? n - 48 : n;
}

}  // namespace

EscPosParser::EscPosParser(Sink sink) : sink_(std::move(sink)) {
  head_.reserve(16);
}

void EscPosParser::Reset() {
  style_ = Style{};
  phase_ = Phase::Idle;
  text_ = Command{};
  textOpen_ = false;
  cur_ = Command{};
  head_.clear();
  payloadLeft_ = 0;
  terminatedMax_ = 0;
  glyphsLeft_ = 0;
  glyphBytesLeft_ = 0;
  glyphWidthNext_ = true;
  imageDefined_ = false;
  imageX_ = imageY_ = 0;
  image_.clear();
}

uint64_t EscPosParser::PendingBytes() const {
  return phase_ == Phase::Idle ? 0 : cur_.length;
}

void EscPosParser::Feed(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) {
    pos_ = offset_++;
    Step(b);
  }
  FlushText();
}

void EscPosParser::Step(uint8_t byte) {
  switch (phase_) {
    case Phase::Idle:
      StartCommand(byte);
      break;
    case Phase::Head:
      HeadByte(byte);
      break;
    case Phase::Payload:
      PayloadByte(byte);
      break;
    case Phase::Terminated:
      TerminatedByte(byte);
      break;
    case Phase::Glyphs:
      GlyphByte(byte);
      break;
  }
}

void EscPosParser::StartCommand(uint8_t byte) {
  if (byte >= 0x20) {
    if (textOpen_ && text_.data.size() >= kMaxTextRun) FlushText();
    if (!textOpen_) {
      text_ = Command{};
      text_.kind = CommandKind::Text;
      text_.offset = pos_;
      text_.style = style_;
      textOpen_ = true;
    }
    text_.data.push_back(byte);
    ++text_.length;
    return;
  }
  FlushText();
  switch (byte) {
    case 0x0A:
      EmitSingle(CommandKind::LineFeed, byte);
      return;
    case 0x0D:
      EmitSingle(CommandKind::CarriageReturn, byte);
      return;
    case 0x09:
      EmitSingle(CommandKind::HorizontalTab, byte);
      return;
    case 0x0C:
      style_.pageMode = false;
      EmitSingle(CommandKind::FormFeed, byte);
      return;
    case 0x18:
      EmitSingle(CommandKind::Cancel, byte);
      return;
    case 0x07:
      EmitSingle(CommandKind::Bell, byte);
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
      EmitSingle(CommandKind::Ignored, byte);
      return;
  }
}

void EscPosParser::EmitSingle(CommandKind kind, uint8_t byte) {
  Command c;
  c.kind = kind;
  c.offset = pos_;
  c.length = 1;
  c.head.assign(1, byte);
  c.style = style_;
  sink_(std::move(c));
}

void EscPosParser::FlushText() {
  if (!textOpen_) return;
  textOpen_ = false;
  sink_(std::move(text_));
  text_ = Command{};
}

EscPosParser::Layout EscPosParser::Classify() const {
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
          const uint64_t perColumn = (head_[2] == 0 || head_[2] == 1) ? 1 : 3;
          return {T::Payload, columns * perColumn};
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
          const bool withFeed = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
          return fixed(withFeed ? 4 : 3);
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

void EscPosParser::HeadByte(uint8_t byte) {
  head_.push_back(byte);
  ++cur_.length;
  const Layout layout = Classify();
  switch (layout.type) {
    case Layout::Type::NeedMore:
      return;
    case Layout::Type::Complete:
      DecodeHead();
      FinishCommand();
      return;
    case Layout::Type::Payload:
      DecodeHead();
      payloadLeft_ = layout.count;
      if (payloadLeft_ == 0) {
        FinishCommand();
      } else {
        phase_ = Phase::Payload;
      }
      return;
    case Layout::Type::Terminated:
      DecodeHead();
      terminatedMax_ = layout.count;
      phase_ = Phase::Terminated;
      return;
    case Layout::Type::Glyphs: {
      DecodeHead();
      const int y = head_[2], c1 = head_[3], c2 = head_[4];
      if (y < 1 || y > 3 || c1 < 32 || c2 > 126 || c1 > c2) {
        cur_.valid = false;  // the printer ignores the definition; what follows is ordinary data
        FinishCommand();
        return;
      }
      glyphHeight_ = static_cast<uint32_t>(y);
      glyphsLeft_ = static_cast<uint32_t>(c2 - c1 + 1);
      glyphWidthNext_ = true;
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
      FinishCommand();
      // The bytes after an unknown prefix are looked at again as the start of new input.
      for (size_t i = 0; i < rest.size(); ++i) {
        pos_ = base + i;
        Step(rest[i]);
      }
      return;
    }
  }
}

void EscPosParser::StorePayload(uint8_t byte) {
  if (cur_.data.size() < kMaxStoredPayload) {
    cur_.data.push_back(byte);
  } else {
    cur_.truncated = true;
  }
}

void EscPosParser::PayloadByte(uint8_t byte) {
  StorePayload(byte);
  ++cur_.length;
  if (--payloadLeft_ == 0) FinishCommand();
}

void EscPosParser::TerminatedByte(uint8_t byte) {
  if (byte == 0) {
    ++cur_.length;
    FinishCommand();
    return;
  }
  if (cur_.data.size() >= terminatedMax_) {
    // No NUL within the limit: the command ends here and this byte is ordinary data.
    if (cur_.kind == CommandKind::Barcode) cur_.valid = false;
    FinishCommand();
    Step(byte);
    return;
  }
  StorePayload(byte);
  ++cur_.length;
}

void EscPosParser::GlyphByte(uint8_t byte) {
  StorePayload(byte);
  ++cur_.length;
  bool glyphDone = false;
  if (glyphWidthNext_) {
    glyphBytesLeft_ = uint64_t{glyphHeight_} * byte;
    glyphWidthNext_ = false;
    glyphDone = glyphBytesLeft_ == 0;
  } else {
    glyphDone = --glyphBytesLeft_ == 0;
  }
  if (glyphDone) {
    glyphWidthNext_ = true;
    if (--glyphsLeft_ == 0) FinishCommand();
  }
}

void EscPosParser::DecodeHead() {
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
          one(CommandKind::Underline, InPairRange(n, 2));
          break;
        case 'E':
          one(CommandKind::Emphasis);
          break;
        case 'G':
          one(CommandKind::DoubleStrike);
          break;
        case 'a':
          one(CommandKind::Justification, InPairRange(n, 2));
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
          one(CommandKind::SelectFont, InPairRange(n, 2));
          break;
        case 'r':
          one(CommandKind::PrintColor, InPairRange(n, 1));
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
          one(CommandKind::Rotate90, InPairRange(n, 2));
          break;
        case ' ':
          one(CommandKind::RightSpacing);
          break;
        case 'L':
          cur_.kind = CommandKind::PageMode;
          break;
        case 'T':
          one(CommandKind::PrintDirection, InPairRange(n, 3));
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
          cur_.valid = InPairRange(n, 1);
          const int pin = cur_.valid ? (PairValue(n) == 0 ? 2 : 5) : 0;
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
          one(CommandKind::HriFont, InPairRange(n, 1));
          break;
        case 'w':
          one(CommandKind::BarcodeWidth, n >= 1 && n <= 6);
          break;
        case 'h':
          one(CommandKind::BarcodeHeight, n >= 1);
          break;
        case 'H':
          one(CommandKind::HriPosition, InPairRange(n, 3));
          break;
        case 'a':
          one(CommandKind::AutoStatusBack);
          break;
        case '/':
          one(CommandKind::PrintImage, InPairRange(n, 3));
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
          cur_.valid = InPairRange(head_[3], 3);
          break;
        default:
          break;
      }
      break;
    case kFs:
      if (c == 'p') {
        cur_.kind = CommandKind::PrintNvLogo;
        cur_.args = {n, head_[3]};
        cur_.valid = n >= 1 && InPairRange(head_[3], 3);
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

void EscPosParser::ApplyPrintMode(uint8_t n) {
  style_.font = n & 0x01;
  style_.emphasized = (n & 0x08) != 0;
  style_.height = (n & 0x10) ? 2 : 1;
  style_.width = (n & 0x20) ? 2 : 1;
  style_.underline = (n & 0x80) ? 1 : 0;
}

void EscPosParser::FinishCommand() {
  phase_ = Phase::Idle;
  head_.clear();
  Command& c = cur_;
  const int n = c.Arg(0, 0);
  switch (c.kind) {
    case CommandKind::Initialize:
      style_ = Style{};
      imageDefined_ = false;  // ESC @ clears the downloaded bit image
      image_.clear();
      break;
    case CommandKind::PrintMode:
      ApplyPrintMode(static_cast<uint8_t>(n));
      break;
    case CommandKind::CharacterSize:
      if (c.valid) {
        style_.width = static_cast<uint8_t>((n >> 4) + 1);
        style_.height = static_cast<uint8_t>((n & 0x0F) + 1);
      }
      break;
    case CommandKind::Justification:
      if (c.valid) style_.justification = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::Underline:
      if (c.valid) style_.underline = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::Emphasis:
      style_.emphasized = (n & 1) != 0;
      break;
    case CommandKind::DoubleStrike:
      style_.doubleStrike = (n & 1) != 0;
      break;
    case CommandKind::Reverse:
      style_.reverse = (n & 1) != 0;
      break;
    case CommandKind::UpsideDown:
      style_.upsideDown = (n & 1) != 0;
      break;
    case CommandKind::LineSpacing:
      style_.lineSpacing = static_cast<uint8_t>(n);
      break;
    case CommandKind::DefaultLineSpacing:
      style_.lineSpacing = 30;
      break;
    case CommandKind::SelectFont:
      if (c.valid) style_.font = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::PrintColor:
      if (c.valid) style_.color = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::CodeTable:
      style_.codeTable = static_cast<uint8_t>(n);
      break;
    case CommandKind::InternationalSet:
      style_.international = static_cast<uint8_t>(n);
      break;
    case CommandKind::Rotate90:
      if (c.valid) style_.rotated90 = PairValue(n) != 0;
      break;
    case CommandKind::RightSpacing:
      style_.rightSpacing = static_cast<uint8_t>(n);
      break;
    case CommandKind::HriFont:
      if (c.valid) style_.hriFont = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::HriPosition:
      if (c.valid) style_.hriPosition = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::BarcodeWidth:
      if (c.valid) style_.barcodeModule = static_cast<uint8_t>(n);
      break;
    case CommandKind::BarcodeHeight:
      if (c.valid) style_.barcodeHeight = static_cast<uint8_t>(n);
      break;
    case CommandKind::PageMode:
      style_.pageMode = true;
      break;
    case CommandKind::StandardMode:
      style_.pageMode = false;
      break;
    case CommandKind::PrintDirection:
      if (c.valid) style_.printDirection = static_cast<uint8_t>(PairValue(n));
      break;
    case CommandKind::DefineImage:
      if (c.valid && !c.truncated) {
        imageDefined_ = true;
        imageX_ = c.args[0];
        imageY_ = c.args[1];
        image_ = c.data;
      }
      break;
    case CommandKind::PrintImage:
      if (imageDefined_) {
        c.args = {n, imageX_, imageY_};
        c.data = image_;
      } else {
        c.valid = false;  // nothing downloaded: the printer prints nothing
      }
      break;
    case CommandKind::ExtendedCommand:
      // GS ( H fn 48 m 48 with four ID bytes asks for a process-ID response.
      if (c.Arg(0) == 'H' && c.data.size() >= 2 && c.data[0] == 0x30) {
        if (c.Arg(1) == 6 && c.data[1] == 0x30) {
          c.kind = CommandKind::ProcessIdRequest;
          c.data.erase(c.data.begin(), c.data.begin() + 2);
        } else {
          c.valid = false;
        }
      }
      break;
    case CommandKind::OtherKnown:
      if (c.valid && c.head.size() >= 2 && c.head[0] == kEsc && c.head[1] == '&') {
        imageDefined_ = false;  // user-defined characters share the image memory
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
