// Incremental ESC/POS command interpreter: bytes arrive in arbitrary chunks, complete
// commands leave through the sink in stream order. It keeps the print modes and the
// downloaded bit image the way the printer does, so each command carries its style.
// Any byte sequence is accepted; memory per command is bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "tools/vprinter/escpos_command.h"

namespace vprinter {

class EscPosParser {
 public:
  using Sink = std::function<void(Command&&)>;

  // Largest payload kept per command (GS * holds at most 12288 valid image bytes).
  static constexpr size_t kMaxStoredPayload = 64 * 1024;
  // Longest text run handed out as one command.
  static constexpr size_t kMaxTextRun = 4096;

  explicit EscPosParser(Sink sink);

  // Consumes every byte. Text gathered at the end of the chunk is emitted, so that
  // a reader sees it at once; a command cut by the chunk end waits for the rest.
  void Feed(std::span<const uint8_t> bytes);

  // Forgets a partial command, the modes and the downloaded image (power cycle).
  void Reset();

  uint64_t Offset() const { return offset_; }  // bytes consumed so far
  uint64_t PendingBytes() const;               // bytes of the unfinished command
  const Style& CurrentStyle() const { return style_; }
  bool HasDownloadedImage() const { return imageDefined_; }

 private:
  enum class Phase : uint8_t { Idle, Head, Payload, Terminated, Glyphs };

  // How the command in head_ continues, once enough of it is known.
  struct Layout {
    enum class Type : uint8_t { NeedMore, Complete, Payload, Terminated, Glyphs, Unknown } type;
    uint64_t count = 0;  // Payload: bytes; Terminated: most bytes before the NUL; Unknown: head bytes taken
  };

  void Step(uint8_t byte);
  void StartCommand(uint8_t byte);
  void HeadByte(uint8_t byte);
  void PayloadByte(uint8_t byte);
  void TerminatedByte(uint8_t byte);
  void GlyphByte(uint8_t byte);
  Layout Classify() const;
  void StorePayload(uint8_t byte);
  void FinishCommand();
  void FlushText();
  void EmitSingle(CommandKind kind, uint8_t byte);
  void DecodeHead();
  void ApplyPrintMode(uint8_t n);

  Sink sink_;
  Style style_;
  Phase phase_ = Phase::Idle;
  uint64_t offset_ = 0;
  uint64_t pos_ = 0;  // stream offset of the byte being looked at

  Command text_;  // text run being gathered (kind Text)
  bool textOpen_ = false;

  Command cur_;  // command being gathered
  std::vector<uint8_t> head_;
  uint64_t payloadLeft_ = 0;  // Payload phase
  uint64_t terminatedMax_ = 0;

  // ESC & user-defined characters: glyph count left and bytes left of the current glyph.
  uint32_t glyphsLeft_ = 0;
  uint32_t glyphHeight_ = 0;
  uint64_t glyphBytesLeft_ = 0;
  bool glyphWidthNext_ = true;

  // The single downloaded bit image (GS *).
  bool imageDefined_ = false;
  int imageX_ = 0;
  int imageY_ = 0;
  std::vector<uint8_t> image_;
};

}  // namespace vprinter
