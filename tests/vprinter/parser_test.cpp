#include <gtest/gtest.h>

#include <algorithm>

#include "tests/vprinter/test_bytes.h"
#include "tools/vprinter/escpos_parser.h"

using namespace vprinter;
using namespace vprinter_test;

namespace {

struct Parsed {
  std::vector<Command> commands;
  uint64_t pending = 0;
};

Parsed Parse(const Bytes& bytes, size_t chunk = SIZE_MAX) {
  Parsed out;
  EscPosParser parser([&](Command&& c) { out.commands.push_back(std::move(c)); });
  for (size_t i = 0; i < bytes.size(); i += chunk) {
    const size_t n = std::min(chunk, bytes.size() - i);
    parser.Feed(std::span<const uint8_t>(bytes.data() + i, n));
  }
  out.pending = parser.PendingBytes();
  return out;
}

// Text runs end at chunk boundaries; join neighbours so that chunkings compare equal.
std::vector<Command> Joined(std::vector<Command> in) {
  std::vector<Command> out;
  for (Command& c : in) {
    if (c.kind == CommandKind::Text && !out.empty() && out.back().kind == CommandKind::Text &&
        out.back().style == c.style && out.back().offset + out.back().length == c.offset) {
      out.back().data.insert(out.back().data.end(), c.data.begin(), c.data.end());
      out.back().length += c.length;
    } else {
      out.push_back(std::move(c));
    }
  }
  return out;
}

const Command* Find(const std::vector<Command>& cmds, CommandKind kind, size_t nth = 0) {
  for (const Command& c : cmds) {
    if (c.kind == kind && nth-- == 0) return &c;
  }
  return nullptr;
}

Bytes ImageBytes(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

// A receipt as the Service Objects send it: every command family they use.
Bytes ReceiptStream() {
  return Cat({
      Hex("1D 61 FF"),                                               // ASB on
      Hex("1B 45 30 1B 2D 30 1B 21 46 1D 42 30 1B 61 30 1B 33 3C"),  // PrintNormal prefix
      Hex("1B 61 31"),
      Text("SHOP"),
      Hex("1B 21 70 1B 2D 31"),
      Text("Big"),
      Hex("0D 0A"),
      Hex("1D 21 21 1D 42 01 1B 72 01"),
      Text("wide"),
      Hex("1D 42 80 0A"),
      Hex("1D 66 30 1D 77 04 1D 68 65 1B 61 31 1D 48 32 1D 6B 45 05"),
      Text("12345"),
      Hex("1D 2A 0D 07"),
      ImageBytes(13 * 7 * 8),
      Hex("1B 61 31 1D 2F 33 1B 61 30"),
      Hex("1B 61 31 1C 70 01 30 0A"),  // NV logo
      Hex("1B 4C 1B 54 31"),
      Text("side"),
      Hex("0A"),  // rotated
      Hex("1B 57 00 00 00 00 00 02 38 04 1B 0C 1B 53"),
      Hex("1B 7C 32 42"),                       // unresolved ESC|2B
      Hex("0A 0A 1B 6D 1D 56 42 03"),           // cuts
      Hex("1B 70 30 64 C8"),                    // drawer kick
      Hex("1D 28 48 06 00 30 30 46 46 46 46"),  // process ID
      Hex("10 04 01 07 00 1B 40"),
      Text("\x1b@\nInteractive HCheck!!\n"),
  });
}

void ExpectSame(const std::vector<Command>& a, const std::vector<Command>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(a[i].Describe());
    EXPECT_EQ(a[i].kind, b[i].kind);
    EXPECT_EQ(a[i].offset, b[i].offset);
    EXPECT_EQ(a[i].length, b[i].length);
    EXPECT_EQ(a[i].head, b[i].head);
    EXPECT_EQ(a[i].args, b[i].args);
    EXPECT_EQ(a[i].data, b[i].data);
    EXPECT_EQ(a[i].valid, b[i].valid);
    EXPECT_TRUE(a[i].style == b[i].style);
  }
}

}  // namespace

TEST(EscPosParser, ChunkingNeverChangesTheCommandsAndEveryByteIsAccountedFor) {
  const Bytes stream = ReceiptStream();
  const Parsed whole = Parse(stream);
  EXPECT_EQ(whole.pending, 0u);
  uint64_t total = 0;
  for (const Command& c : whole.commands) total += c.length;
  EXPECT_EQ(total, stream.size());
  EXPECT_EQ(Find(whole.commands, CommandKind::Unknown)->head, Hex("1B 7C"));
  for (size_t chunk : {1u, 2u, 3u, 5u, 11u, 64u}) {
    SCOPED_TRACE(chunk);
    ExpectSame(Joined(Parse(stream, chunk).commands), Joined(whole.commands));
  }
}

TEST(EscPosParser, PrintModesTrackTheServiceObjectPrefixAndSizeCommands) {
  const Parsed p = Parse(ReceiptStream());
  const Command* shop = Find(p.commands, CommandKind::Text, 0);
  ASSERT_NE(shop, nullptr);
  EXPECT_EQ(shop->data, Text("SHOP"));
  EXPECT_EQ(shop->style.justification, 1);
  EXPECT_EQ(shop->style.lineSpacing, 0x3C);
  EXPECT_FALSE(shop->style.emphasized);
  EXPECT_EQ(shop->style.width, 1);

  const Command* big = Find(p.commands, CommandKind::Text, 1);
  EXPECT_EQ(big->data, Text("Big"));
  EXPECT_EQ(big->style.width, 2);  // ESC ! 0x70: double width and height
  EXPECT_EQ(big->style.height, 2);
  EXPECT_EQ(big->style.underline, 1);

  const Command* wide = Find(p.commands, CommandKind::Text, 2);
  EXPECT_EQ(wide->data, Text("wide"));
  EXPECT_EQ(wide->style.width, 3);  // GS ! 0x21
  EXPECT_EQ(wide->style.height, 2);
  EXPECT_TRUE(wide->style.reverse);
  EXPECT_EQ(wide->style.color, 1);
  // GS B 0x80 turns reverse off: only bit 0 counts.
  EXPECT_FALSE(Find(p.commands, CommandKind::Reverse, 2)->style.reverse);

  const Bytes fontB = Cat({Hex("1B 21 47"), Text("x")});
  EXPECT_EQ(Parse(fontB).commands.back().style.font, 1);
}

TEST(EscPosParser, BarcodeCarriesItsDataAndSettings) {
  const Parsed p = Parse(ReceiptStream());
  const Command* bc = Find(p.commands, CommandKind::Barcode);
  ASSERT_NE(bc, nullptr);
  EXPECT_TRUE(bc->valid);
  EXPECT_EQ(bc->args, (std::vector<int>{0x45, 5}));
  EXPECT_EQ(bc->data, Text("12345"));
  EXPECT_EQ(bc->style.hriPosition, 2);
  EXPECT_EQ(bc->style.hriFont, 0);
  EXPECT_EQ(bc->style.barcodeModule, 4);
  EXPECT_EQ(bc->style.barcodeHeight, 0x65);
  EXPECT_EQ(bc->style.justification, 1);

  // Form with NUL terminator, an unsupported symbology, and a terminator that never comes.
  const Parsed q = Parse(Cat({Hex("1D 6B 04"), Text("AB1"), Hex("00"), Hex("1D 6B 14"), Text("T"),
                              Hex("1D 6B 04"), Repeat('9', 300)}));
  ASSERT_EQ(q.commands.size(), 5u);
  EXPECT_EQ(q.commands[0].data, Text("AB1"));
  EXPECT_EQ(q.commands[0].length, 7u);
  EXPECT_FALSE(q.commands[1].valid);
  EXPECT_EQ(q.commands[2].data, Text("T"));
  EXPECT_FALSE(q.commands[3].valid);
  EXPECT_EQ(q.commands[3].data.size(), 255u);
  EXPECT_EQ(q.commands[4].kind, CommandKind::Text);
  EXPECT_EQ(q.commands[4].data.size(), 45u);
}

TEST(EscPosParser, DownloadedImageIsPrintedByGsSlashAndForgottenByInitialize) {
  const Parsed p = Parse(ReceiptStream());
  const Command* def = Find(p.commands, CommandKind::DefineImage);
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->valid);
  EXPECT_EQ(def->length, 4u + 728u);
  const Command* print = Find(p.commands, CommandKind::PrintImage);
  ASSERT_NE(print, nullptr);
  EXPECT_TRUE(print->valid);
  EXPECT_EQ(print->args, (std::vector<int>{0x33, 13, 7}));
  EXPECT_EQ(print->data, ImageBytes(728));

  // An oversized definition is consumed whole (sync kept), stored bounded, and does not
  // replace the valid image; ESC @ clears it.
  const Bytes stream = Cat({Hex("1D 2A 01 01"), ImageBytes(8), Hex("1D 2A FF FF"),
                            Repeat(0xAA, 255 * 255 * 8), Text("OK"), Hex("1D 2F 00 1B 40 1D 2F 00")});
  const Parsed q = Parse(stream, 4096);
  const std::vector<Command> cmds = Joined(q.commands);
  ASSERT_EQ(cmds.size(), 6u);
  EXPECT_FALSE(cmds[1].valid);
  EXPECT_TRUE(cmds[1].truncated);
  EXPECT_EQ(cmds[1].data.size(), EscPosParser::kMaxStoredPayload);
  EXPECT_EQ(cmds[1].length, 4u + 255u * 255u * 8u);
  EXPECT_EQ(cmds[2].data, Text("OK"));
  EXPECT_EQ(cmds[2].offset, 12u + 4u + 255u * 255u * 8u);
  EXPECT_EQ(cmds[3].data, ImageBytes(8));
  EXPECT_TRUE(cmds[5].data.empty());
  EXPECT_FALSE(cmds[5].valid);
}

TEST(EscPosParser, PageModeRotationAndPrintArea) {
  const Parsed p = Parse(ReceiptStream());
  const Command* side = Find(p.commands, CommandKind::Text, 3);
  ASSERT_NE(side, nullptr);
  EXPECT_EQ(side->data, Text("side"));
  EXPECT_TRUE(side->style.pageMode);
  EXPECT_EQ(side->style.printDirection, 1);
  const Command* area = Find(p.commands, CommandKind::PrintArea);
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area->args, (std::vector<int>{0, 0, 512, 1080}));
  ASSERT_NE(Find(p.commands, CommandKind::PrintPage), nullptr);
  EXPECT_FALSE(Find(p.commands, CommandKind::StandardMode)->style.pageMode);
}

TEST(EscPosParser, LogoKickProcessIdAndCutForms) {
  const Parsed p = Parse(
      Cat({Hex("1C 70 01 30 0A 1C 70 02 48"), Hex("1B 70 30 64 C8 1B 70 31 64 C8 1B 70 00 01 02"),
           Hex("1B 70 01 05 06 1B 70 07 01 01"), Hex("1D 28 48 06 00 30 30 46 46 46 46"),
           Hex("1D 28 48 07 00 30 30 31 32 33 34 35"), Hex("1D 56 00 1D 56 42 03 1B 69 1B 6D"), Text("Z")}));
  const auto& c = p.commands;
  ASSERT_EQ(c.size(), 15u);
  EXPECT_EQ(c[0].kind, CommandKind::PrintNvLogo);
  EXPECT_EQ(c[0].args, (std::vector<int>{1, 0x30}));
  EXPECT_TRUE(c[0].valid);
  EXPECT_EQ(c[2].kind, CommandKind::PrintNvLogo);
  EXPECT_FALSE(c[2].valid);  // mode byte 0x48 is outside 0-3 / 48-51
  EXPECT_EQ(c[3].args, (std::vector<int>{2, 0x64, 0xC8}));
  EXPECT_EQ(c[4].args[0], 5);
  EXPECT_EQ(c[5].args[0], 2);
  EXPECT_EQ(c[6].args[0], 5);
  EXPECT_FALSE(c[7].valid);
  EXPECT_EQ(c[8].kind, CommandKind::ProcessIdRequest);
  EXPECT_EQ(c[8].data, Text("FFFF"));
  EXPECT_EQ(c[9].kind, CommandKind::ExtendedCommand);  // wrong length: no process-ID request
  EXPECT_FALSE(c[9].valid);
  EXPECT_EQ(c[9].length, 12u);
  EXPECT_EQ(c[10].args, (std::vector<int>{0}));
  EXPECT_EQ(c[11].args, (std::vector<int>{0x42, 3}));
  EXPECT_EQ(c[12].kind, CommandKind::FullCut);
  EXPECT_EQ(c[13].kind, CommandKind::PartialCut);
  EXPECT_TRUE(IsCut(c[11].kind));
  EXPECT_EQ(c[14].kind, CommandKind::Text);
}

TEST(EscPosParser, UnknownAndControlBytesKeepSync) {
  const Parsed p = Parse(Cat({Hex("1B 7C 32 42 1D 99 41 10 41 00 07 10 04 01 10 04 07 01 1C 99 09 18 0C"),
                              Hex("1B 26 03 41 42 01"), Repeat(0x55, 3), Hex("02"), Repeat(0x66, 6),
                              Hex("1B 26 03 42 41 51"), Hex("1B 2A 21 02 00"), Repeat(1, 6),
                              Hex("1D 76 30 00 02 00 03 00"), Repeat(2, 6), Hex("1D 76 31 58")}));
  std::vector<std::string> kinds;
  for (const Command& c : p.commands) kinds.push_back(CommandKindName(c.kind));
  const std::vector<std::string> expected = {"Unknown", "Text",    "Unknown", "Text",    "Unknown", "Text",
                                             "Ignored", "BEL",     "DLE EOT", "DLE EOT", "Unknown", "HT",
                                             "CAN",     "FF",      "Other",   "Other",   "Text",    "ESC *",
                                             "GS v 0",  "Unknown", "Text"};
  EXPECT_EQ(kinds, expected);
  EXPECT_EQ(p.commands[1].data, Text("2B"));
  EXPECT_EQ(p.commands[9].args, (std::vector<int>{7, 1}));
  EXPECT_EQ(p.commands[14].length, 5u + 4u + 7u);
  EXPECT_FALSE(p.commands[15].valid);  // c1 > c2: ignored, "Q" is text
  EXPECT_EQ(p.commands[16].data, Text("Q"));
  EXPECT_EQ(p.commands[17].length, 11u);
  EXPECT_EQ(p.commands[18].args, (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(p.commands[18].data, Repeat(2, 6));
  EXPECT_EQ(p.commands.back().data, Text("1X"));
}

TEST(EscPosParser, TruncatedCommandWaitsAndHugeLengthsStayBounded) {
  std::vector<Command> got;
  EscPosParser parser([&](Command&& c) { got.push_back(std::move(c)); });
  const Bytes start = Cat({Hex("1D 6B 49 FF"), Repeat('1', 10)});
  parser.Feed(start);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(parser.PendingBytes(), 14u);
  parser.Feed(Repeat('2', 245));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data.size(), 255u);
  EXPECT_EQ(parser.PendingBytes(), 0u);

  // GS ( with the largest length: consumed whole, stored within the payload cap.
  parser.Feed(Hex("1D 28 4C FF FF"));
  parser.Feed(Repeat(0, 65535));
  parser.Feed(Text("A"));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].length, 65540u);
  EXPECT_LE(got[1].data.size(), EscPosParser::kMaxStoredPayload);
  EXPECT_EQ(got[2].data, Text("A"));

  // A power cycle forgets the half-received command and the modes.
  parser.Feed(Hex("1B 21 30 1D 28 48 06"));
  parser.Reset();
  EXPECT_EQ(parser.PendingBytes(), 0u);
  parser.Feed(Text("abc"));
  EXPECT_EQ(got.back().data, Text("abc"));
  EXPECT_EQ(got.back().style.width, 1);
}
