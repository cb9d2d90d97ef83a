// One parsed ESC/POS command as the virtual printer's command interpreter saw it,
// with the print modes in effect, so that a renderer can walk the list later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vprinter {

// Print modes and barcode settings in effect for a printable command.
struct Style {
  uint8_t font = 0;             // 0 font A, 1 font B (ESC ! bit 0, ESC M)
  bool emphasized = false;      // ESC E, ESC ! bit 3
  bool doubleStrike = false;    // ESC G
  uint8_t underline = 0;        // 0 none, 1 single, 2 double (ESC -, ESC ! bit 7)
  uint8_t width = 1;            // character width multiplier 1..8 (GS !, ESC ! bit 5)
  uint8_t height = 1;           // character height multiplier 1..8 (GS !, ESC ! bit 4)
  bool reverse = false;         // GS B
  bool upsideDown = false;      // ESC {
  bool rotated90 = false;       // ESC V
  uint8_t justification = 0;    // 0 left, 1 centre, 2 right (ESC a)
  uint8_t lineSpacing = 30;     // dots (ESC 3, ESC 2)
  uint8_t rightSpacing = 0;     // dots (ESC SP)
  uint8_t codeTable = 0;        // ESC t
  uint8_t international = 0;    // ESC R
  uint8_t color = 0;            // ESC r
  bool pageMode = false;        // ESC L .. ESC S
  uint8_t printDirection = 0;   // ESC T, page mode only
  uint8_t hriPosition = 0;      // GS H: 0 none, 1 above, 2 below, 3 both
  uint8_t hriFont = 0;          // GS f
  uint8_t barcodeModule = 3;    // GS w
  uint8_t barcodeHeight = 162;  // GS h, dots
  bool operator==(const Style&) const = default;
};

enum class CommandKind : uint8_t {
  Text,                // printable bytes; data holds them
  LineFeed,            // LF
  CarriageReturn,      // CR
  HorizontalTab,       // HT
  FormFeed,            // FF: in page mode, print and return to standard mode
  Cancel,              // CAN: in page mode, discard the page
  Bell,                // BEL
  Ignored,             // NUL and the other control bytes a printer skips
  Initialize,          // ESC @
  PrintMode,           // ESC ! n
  CharacterSize,       // GS ! n
  Justification,       // ESC a n
  Underline,           // ESC - n
  Emphasis,            // ESC E n
  DoubleStrike,        // ESC G n
  Reverse,             // GS B n
  LineSpacing,         // ESC 3 n
  DefaultLineSpacing,  // ESC 2
  FeedLines,           // ESC d n
  FeedDots,            // ESC J n
  SelectFont,          // ESC M n
  PrintColor,          // ESC r n
  CodeTable,           // ESC t n
  InternationalSet,    // ESC R n
  UpsideDown,          // ESC { n
  Rotate90,            // ESC V n
  RightSpacing,        // ESC SP n
  HriFont,             // GS f n
  BarcodeWidth,        // GS w n
  BarcodeHeight,       // GS h n
  HriPosition,         // GS H n
  Barcode,             // GS k m ...; args {m, n}; data = barcode data
  DefineImage,         // GS * x y d...; args {x, y}
  PrintImage,          // GS / m; args {m, x, y}; data = the downloaded image
  PrintNvLogo,         // FS p n m; args {n, m}
  BitImage,            // ESC * m nL nH d...; args {m, columns}
  RasterImage,         // GS v 0 m xL xH yL yH d...; args {m, width bytes, height}
  PageMode,            // ESC L
  PrintDirection,      // ESC T n
  PrintArea,           // ESC W; args {x, y, dx, dy}
  PrintPage,           // ESC FF
  StandardMode,        // ESC S
  PartialCut,          // ESC m
  FullCut,             // ESC i
  Cut,                 // GS V m [n]; args {m[, n]}
  DrawerKick,          // ESC p m t1 t2; args {pin 2 or 5, t1, t2}
  AutoStatusBack,      // GS a n
  ProcessIdRequest,    // GS ( H 06 00 30 30 d1 d2 d3 d4; data = d1..d4
  ExtendedCommand,     // any other GS ( X pL pH ...; args {X}; data = the pL pH payload
  RealTimeStatus,      // DLE EOT n
  RealTimeRequest,     // DLE ENQ n
  RealTimePulse,       // DLE DC4 fn ...
  OtherKnown,          // a known command of known length that is not modelled further
  Unknown,             // bytes that start no known command; skipped
};

const char* CommandKindName(CommandKind kind);
bool IsCut(CommandKind kind);

struct Command {
  CommandKind kind = CommandKind::Unknown;
  uint64_t offset = 0;        // stream offset of the first byte
  uint64_t length = 0;        // bytes the command took in the stream, payload included
  std::vector<uint8_t> head;  // the command's bytes before its payload (whole command when it has none)
  std::vector<int> args;      // decoded numeric parameters (see CommandKind)
  std::vector<uint8_t> data;  // payload (text, barcode data, image), at most a bounded amount
  bool truncated = false;     // the payload was longer than what is stored in data
  bool valid = true;          // parameters within the printer's documented ranges
  Style style;                // modes in effect (after the command itself took effect)

  int Arg(size_t i, int fallback = -1) const { return i < args.size() ? args[i] : fallback; }
  std::string Describe() const;  // one line for logs and test failures
};

}  // namespace vprinter
