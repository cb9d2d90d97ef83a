#include "printer/translate.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "printer/code_page.h"
#include "printer/printer_properties.h"

namespace opos {
namespace {

constexpr char kEsc = 0x1B;
constexpr uint8_t kBitEmphasized = 0x08;
constexpr uint8_t kBitDoubleHeight = 0x10;
constexpr uint8_t kBitDoubleWidth = 0x20;

int32_t SaturateToInt32(double v) {
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(v);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLower(char c) {
  return c >= 'a' && c <= 'z';
}
bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// GS ! takes 0..7 in each nibble; repeated size sequences must not carry into
// the other nibble or wrap to an invalid (or zero) value.
uint8_t AddWidth(uint8_t size, int steps) {
  const int w = std::min(7, ((size >> 4) & 0x0F) + steps);
  return static_cast<uint8_t>((w << 4) | (size & 0x0F));
}
uint8_t AddHeight(uint8_t size, int steps) {
  const int h = std::min(7, (size & 0x0F) + steps);
  return static_cast<uint8_t>((size & 0xF0) | h);
}

// Reads one decimal group as the conversion does: leading blanks, an optional
// sign, digits up to the first other character (no digits read as 0). Blanks
// may pad the group on either side; any other character (a letter, or a digit
// the reading would drop after a blank) makes it not a number.
bool ParseDecimalGroup(std::string_view g, uint8_t& byte) {
  size_t i = 0;
  while (i < g.size() && IsBlank(g[i])) ++i;
  bool negative = false;
  if (i < g.size() && (g[i] == '+' || g[i] == '-')) {
    negative = g[i] == '-';
    ++i;
  }
  int value = 0;
  for (; i < g.size() && IsDigit(g[i]); ++i) value = value * 10 + (g[i] - '0');
  for (; i < g.size(); ++i) {
    if (!IsBlank(g[i])) return false;
  }
  // Only the low 8 bits reach the printer ("-01" is 0xFF, "300" is 0x2C).
  byte = static_cast<uint8_t>(negative ? -value : value);
  return true;
}

class Translator {
 public:
  Translator(const TranslationProfile& profile, const PrintProperties& props, TranslationState& state,
             std::string& out)
      : profile_(profile), props_(props), state_(state), out_(out) {
    printMode_ = props.RecLineChars > 42 ? 0x41 : 0x40;
  }

  int32_t Run(std::string_view in) {
    if (state_.bColumnCarry) {
      column_ = state_.nSavedColumn;
    } else {
      state_.bColumnCarry = true;
      column_ = 0;
    }
    out_.reserve(out_.size() + in.size() + 32);

    size_t i = 0;
    while (i < in.size()) {
      const char c = in[i];
      if (c == kEsc && i + 1 < in.size() && in[i + 1] == '|') {
        size_t next = 0;
        switch (Escape(in, i + 2, next)) {
          case Outcome::kDone:
            i = next;
            break;
          case Outcome::kUnrecognised:
            // The rest of the sequence follows as ordinary text.
            out_.push_back(kEsc);
            out_.push_back('|');
            i += 2;
            break;
          case Outcome::kTooLarge:
            return OPOS_E_ILLEGAL;
        }
        continue;
      }
      if (c == '\r' || c == '\n' || c == kEsc) {
        Text(c);
        ++i;
        continue;
      }
      // Plain text up to the next control byte is copied and counted at once.
      size_t end = i + 1;
      while (end < in.size() && in[end] != kEsc && in[end] != '\r' && in[end] != '\n') ++end;
      TextRun(in.substr(i, end - i));
      i = end;
    }
    if (state_.bColumnCarry) state_.nSavedColumn = column_;
    return OPOS_SUCCESS;
  }

 private:
  enum class Outcome { kDone, kUnrecognised, kTooLarge };

  void Text(char c) {
    out_.push_back(c);
    if (c == '\r' || c == '\n') {
      if (column_ >= state_.nRotatedMaxColumns) state_.nRotatedMaxColumns = column_;
      state_.nSavedColumn = 0;
      state_.bColumnCarry = false;
      column_ = 0;
      wideExtra_ = 0;
      lineStart_ = true;
      return;
    }
    Advance(1);
  }

  void TextRun(std::string_view run) {
    out_ += run;
    Advance(run.size());
  }

  void Advance(size_t chars) {
    const int64_t limit = std::numeric_limits<int32_t>::max();
    const int64_t count = static_cast<int64_t>(std::min<size_t>(chars, static_cast<size_t>(limit)));
    const int64_t next = int64_t{column_} + count * (1 + int64_t{wideExtra_});
    column_ = static_cast<int32_t>(std::min(next, limit));
    lineStart_ = false;
  }

  void Emit(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) out_.push_back(static_cast<char>(b));
  }

  void EmitPrintMode() {
    Emit({0x1B, 0x21, printMode_});
    if (underline_ == 1) Emit({0x1B, 0x2D, 0x31});
    if (underline_ == 2) Emit({0x1B, 0x2D, 0x32});
  }

  bool Reserve(size_t count) {
    if (count > kMaxGeneratedBytes - generated_) return false;
    generated_ += count;
    return true;
  }

  Outcome LineFeeds(int64_t count) {
    if (count < 0) count = 0;
    if (static_cast<uint64_t>(count) > kMaxGeneratedBytes) return Outcome::kTooLarge;
    if (!Reserve(static_cast<size_t>(count))) return Outcome::kTooLarge;
    out_.append(static_cast<size_t>(count), '\n');
    return Outcome::kDone;
  }

  Outcome Logo(const std::string& logo) {
    if (!Reserve(logo.size())) return Outcome::kTooLarge;
    out_ += logo;
    return Outcome::kDone;
  }

  // ESC 3 v LF per piece; one ESC 3 holds at most 255 half-dots, so feeds
  // above 50 dots are spread evenly over floor(d / 50) + 1 pieces.
  Outcome UnitFeed(int32_t n) {
    if (state_.nRotateMode != 0) return Outcome::kDone;
    const int64_t d = std::max<int32_t>(0, ToDots(n, props_.MapMode));
    const int64_t pieces = d <= 50 ? 1 : d / 50 + 1;
    if (static_cast<uint64_t>(pieces) > kMaxGeneratedBytes / 4) return Outcome::kTooLarge;
    if (!Reserve(static_cast<size_t>(pieces) * 4 + profile_.afterUnitFeed.size())) {
      return Outcome::kTooLarge;
    }
    const int64_t base = d / pieces;
    const int64_t rest = d % pieces;
    for (int64_t k = 0; k < pieces; ++k) {
      const int64_t dots = base + (k < rest ? 1 : 0);
      const uint8_t v = dots == 0 ? 1 : static_cast<uint8_t>(2 * dots);
      Emit({0x1B, 0x33, v, 0x0A});
    }
    out_ += profile_.afterUnitFeed;
    return Outcome::kDone;
  }

  // Parses after ESC |: digits, at most one lower-case modifier ("rv" when
  // followed by C), then the command letter. `next` is set past the command.
  Outcome Escape(std::string_view in, size_t j, size_t& next) {
    int64_t n = 0;
    while (j < in.size() && IsDigit(in[j])) {
      n = std::min<int64_t>(n * 10 + (in[j] - '0'), std::numeric_limits<int32_t>::max());
      ++j;
    }
    char mod = 0;
    bool rv = false;
    if (j < in.size() && IsLower(in[j])) {
      mod = in[j];
      if (mod == 'r' && j + 2 < in.size() && in[j + 1] == 'v' && in[j + 2] == 'C') {
        rv = true;
        ++j;
      }
      ++j;
    }
    if (j >= in.size()) return Outcome::kUnrecognised;
    next = j + 1;
    return Command(in[j], mod, rv, static_cast<int32_t>(n));
  }

  Outcome Command(char cmd, char mod, bool rv, int32_t n) {
    switch (cmd) {
      case 'A':
        return Align(mod);
      case 'C':
        return rv ? (Emit({0x1D, 0x42, 0x01}), Outcome::kDone) : Character(mod, n);
      case 'F':
        return Feed(mod, n);
      case 'L':
        if (mod == 't') return Logo(state_.strTopLogo);
        if (mod == 'b') return Logo(state_.strBottomLogo);
        return mod == 's' ? Outcome::kDone : Outcome::kUnrecognised;
      case 'N':
        if (lineStart_) Emit({0x1B, 0x61, 0x30});
        printMode_ = props_.RecLineChars > 42 ? 0x41 : 0x40;
        underline_ = 0;
        Emit({0x1D, 0x42, 0x80, 0x1B, 0x45, 0x30, 0x1B, 0x2D, 0x30, 0x1B, 0x21, printMode_});
        return Outcome::kDone;
      case 'P':
        if (mod == 0) {
          Emit({0x1B, 0x6D});
          return Outcome::kDone;
        }
        if (mod == 'f') {
          if (const Outcome o = LineFeeds(props_.RecLinesToPaperCut); o != Outcome::kDone) return o;
          Emit({0x1B, 0x6D});
          return Outcome::kDone;
        }
        return mod == 's' ? Outcome::kDone : Outcome::kUnrecognised;
      case 'T':
        return mod == 'f' ? Outcome::kDone : Outcome::kUnrecognised;
      default:
        return Outcome::kUnrecognised;
    }
  }

  Outcome Align(char mod) {
    if (mod != 'c' && mod != 'r') return Outcome::kUnrecognised;
    // Alignment only takes effect at the start of a line, so it is dropped
    // once text has been printed on it.
    if (lineStart_) {
      Emit({0x1B, 0x61, static_cast<uint8_t>(mod == 'c' ? 0x31 : 0x32)});
      lineStart_ = false;
    }
    return Outcome::kDone;
  }

  Outcome Feed(char mod, int32_t n) {
    switch (mod) {
      case 'l':
        return LineFeeds(n == 0 ? 1 : n);
      case 'u':
        return UnitFeed(n);
      case 'r':
        return Outcome::kDone;
      default:
        return Outcome::kUnrecognised;
    }
  }

  Outcome Character(char mod, int32_t n) {
    constexpr uint8_t kSizeBits = kBitDoubleHeight | kBitDoubleWidth;
    switch (mod) {
      case 0:
        if (n < 1 || n > 4) return Outcome::kUnrecognised;
        printMode_ &= static_cast<uint8_t>(~kSizeBits);
        if (n == 2 || n == 4) printMode_ |= kBitDoubleWidth;
        if (n == 3 || n == 4) printMode_ |= kBitDoubleHeight;
        wideExtra_ = (n == 2 || n == 4) ? 1 : 0;
        EmitPrintMode();
        return Outcome::kDone;
      case 'b':
        printMode_ |= kBitEmphasized;
        Emit({0x1B, 0x45, 0x31});
        return Outcome::kDone;
      case 'u':
        underline_ = n == 2 ? 2 : 1;
        Emit({0x1B, 0x2D, static_cast<uint8_t>(n == 2 ? 0x32 : 0x31)});
        return Outcome::kDone;
      case 'r':
        out_ += profile_.alternateColor;
        return Outcome::kDone;
      case 'i':
      case 's':
        return Outcome::kDone;
      case 'h':
        Width(n);
        return Outcome::kDone;
      case 'v':
        Height(n);
        return Outcome::kDone;
      default:
        return Outcome::kUnrecognised;
    }
  }

  void Width(int32_t n) {
    if (n == 1) {
      printMode_ &= static_cast<uint8_t>(~kBitDoubleWidth);
      wideExtra_ = 0;
      EmitPrintMode();
    } else if (n == 2) {
      printMode_ |= kBitDoubleWidth;
      wideExtra_ = 1;
      if (sizeByte_ != 0) {
        sizeByte_ = AddWidth(sizeByte_, 1);
        Emit({0x1D, 0x21, sizeByte_});
      } else {
        EmitPrintMode();
      }
    } else if (n >= 3 && n <= 8) {
      printMode_ &= static_cast<uint8_t>(~kBitDoubleWidth);
      sizeByte_ &= 0x0F;
      // A double height selected through ESC ! moves into GS ! with the width.
      if (printMode_ & kBitDoubleHeight) {
        printMode_ &= static_cast<uint8_t>(~kBitDoubleHeight);
        sizeByte_ = AddHeight(sizeByte_, 1);
      }
      sizeByte_ = AddWidth(sizeByte_, n - 1);
      wideExtra_ = n - 1;
      Emit({0x1D, 0x21, sizeByte_});
    }
  }

  void Height(int32_t n) {
    if (n == 1) {
      printMode_ &= static_cast<uint8_t>(~kBitDoubleHeight);
      wideExtra_ = 0;
      EmitPrintMode();
    } else if (n == 2) {
      printMode_ |= kBitDoubleHeight;
      wideExtra_ = 0;
      EmitPrintMode();
    } else if (n >= 3 && n <= 8) {
      printMode_ &= static_cast<uint8_t>(~kBitDoubleHeight);
      sizeByte_ &= 0xF0;
      if (printMode_ & kBitDoubleWidth) {
        printMode_ &= static_cast<uint8_t>(~kBitDoubleWidth);
        sizeByte_ = AddWidth(sizeByte_, 1);
      }
      sizeByte_ = AddHeight(sizeByte_, n - 1);
      wideExtra_ = 0;
      Emit({0x1D, 0x21, sizeByte_});
    }
  }

  const TranslationProfile& profile_;
  const PrintProperties& props_;
  TranslationState& state_;
  std::string& out_;

  uint8_t printMode_ = 0x40;
  uint8_t sizeByte_ = 0;
  int underline_ = 0;
  int32_t wideExtra_ = 0;
  bool lineStart_ = true;
  int32_t column_ = 0;
  size_t generated_ = 0;
};

}  // namespace

int32_t ToDots(int32_t value, int32_t mapMode) {
  const double factor = ToDotsFactor(mapMode);
  if (factor == 1.0) return value;
  return SaturateToInt32(std::trunc(value * factor + 0.5));
}

int32_t ApplyBinaryConversion(int32_t binaryConversion, std::string_view data, std::string& out) {
  out.clear();
  switch (binaryConversion) {
    case OPOS_BC_NONE:
      out.assign(data);
      return OPOS_SUCCESS;
    case OPOS_BC_NIBBLE:
      if (data.size() % 2 != 0) return OPOS_E_ILLEGAL;
      out.reserve(data.size() / 2);
      for (size_t i = 0; i < data.size(); i += 2) {
        const auto hi = static_cast<uint8_t>(data[i]) & 0x0F;
        const auto lo = static_cast<uint8_t>(data[i + 1]) & 0x0F;
        out.push_back(static_cast<char>((hi << 4) | lo));
      }
      return OPOS_SUCCESS;
    case OPOS_BC_DECIMAL: {
      if (data.size() % 3 != 0) return OPOS_E_ILLEGAL;
      out.reserve(data.size() / 3);
      char group[3];
      for (size_t i = 0; i < data.size(); i += 3) {
        for (size_t k = 0; k < 3; ++k) group[k] = data[i + k] == '^' ? '0' : data[i + k];
        uint8_t byte = 0;
        if (!ParseDecimalGroup(std::string_view(group, 3), byte)) {
          out.clear();
          return OPOS_E_ILLEGAL;
        }
        out.push_back(static_cast<char>(byte));
      }
      return OPOS_SUCCESS;
    }
    default:
      return OPOS_E_ILLEGAL;
  }
}

int32_t TranslatePrintData(const TranslationProfile& profile, const PrintProperties& props,
                           TranslationState& state, std::string_view input, std::string& output) {
  const size_t outputSize = output.size();
  const int32_t maxColumns = state.nRotatedMaxColumns;
  const int32_t savedColumn = state.nSavedColumn;
  const bool columnCarry = state.bColumnCarry;

  Translator translator(profile, props, state, output);
  const int32_t result = translator.Run(input);
  if (result != OPOS_SUCCESS) {
    output.resize(outputSize);
    state.nRotatedMaxColumns = maxColumns;
    state.nSavedColumn = savedColumn;
    state.bColumnCarry = columnCarry;
  }
  return result;
}

std::string_view ResetPrefix(int32_t recLineChars) {
  // Emphasis off, underline off, ESC ! (0x46 / 0x47 for the 56-column font),
  // reverse off, left aligned.
  static constexpr std::string_view k42{"\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x46\x1d\x42\x30\x1b\x61\x30", 15};
  static constexpr std::string_view k56{"\x1b\x45\x30\x1b\x2d\x30\x1b\x21\x47\x1d\x42\x30\x1b\x61\x30", 15};
  return recLineChars > 42 ? k56 : k42;
}

uint8_t LineSpacingParameter(const PrintProperties& props) {
  const int64_t v = int64_t{2} * ToDots(props.RecLineSpacing, props.MapMode);
  return static_cast<uint8_t>(std::clamp<int64_t>(v, 1, 255));
}

int32_t ScanRotatedExtraLines(std::string_view data) {
  struct Height {
    std::string_view escape;
    int32_t lines;
  };
  static constexpr Height kHeights[] = {
      {"\x1b|3C", 1},  {"\x1b|4C", 1},  {"\x1b|2vC", 1}, {"\x1b|3vC", 2}, {"\x1b|4vC", 3},
      {"\x1b|5vC", 4}, {"\x1b|6vC", 5}, {"\x1b|7vC", 6}, {"\x1b|8vC", 7},
  };
  int32_t lines = 0;
  for (const Height& h : kHeights) {
    if (h.lines > lines && data.find(h.escape) != std::string_view::npos) lines = h.lines;
  }
  return lines;
}

PreparedPrint PreparePrintNormal(const TranslationProfile& profile, const PrintProperties& props,
                                 TranslationState& state, std::string_view data) {
  PreparedPrint p;
  std::string converted;
  p.result = PrintArgumentBytes(props, data, converted);
  if (p.result != OPOS_SUCCESS) return p;

  const bool rotated = state.nRotateMode == 1 || state.nRotateMode == 2;
  const int32_t extraLines = rotated ? ScanRotatedExtraLines(converted) : 0;

  p.bytes.reserve(converted.size() + 32);
  p.bytes.append(ResetPrefix(props.RecLineChars));
  // Page mode keeps its own line pitch; no ESC 3 while rotated.
  if (state.nRotateMode == 0) {
    p.bytes.append({'\x1b', '\x33', static_cast<char>(LineSpacingParameter(props))});
  }
  p.result = TranslatePrintData(profile, props, state, converted, p.bytes);
  if (p.result != OPOS_SUCCESS) {
    p.bytes.clear();
    return p;
  }
  if (!rotated) return p;

  state.nRotatedExtraLines = std::max(state.nRotatedExtraLines, extraLines);
  // Page mode lays out whole lines: text is held back until its line ends.
  if (!state.strRotatedPending.empty()) {
    p.bytes.insert(0, state.strRotatedPending);
    state.strRotatedPending.clear();
  }
  if (p.bytes.find_first_of("\r\n") == std::string::npos) {
    state.strRotatedPending = std::move(p.bytes);
    p.bytes.clear();
    p.heldBack = true;
    return p;
  }
  p.bytes.insert(0, static_cast<size_t>(state.nRotatedExtraLines), '\n');
  state.nRotatedExtraLines = 0;
  return p;
}

int32_t ValidatePrintData(const TranslationProfile& profile, const PrintProperties& props,
                          TranslationState& state, std::string_view data) {
  std::string converted;
  if (const int32_t r = PrintArgumentBytes(props, data, converted); r != 0) {
    return r;
  }
  std::string scratch;
  return TranslatePrintData(profile, props, state, converted, scratch);
}

}  // namespace opos
