#include "printer/translate.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/printer/test_util.h"

namespace opos {
namespace {

using test::B;
using test::Hex;

const std::string kPrefix42 =
    B({0x1B, 0x45, 0x30, 0x1B, 0x2D, 0x30, 0x1B, 0x21, 0x46, 0x1D, 0x42, 0x30, 0x1B, 0x61, 0x30});

class TranslateTest : public ::testing::Test {
 protected:
  std::string Tr(const std::string& in, const TranslationProfile& profile = kSerialTranslation) {
    std::string out;
    EXPECT_EQ(TranslatePrintData(profile, props, state, in, out), OPOS_SUCCESS);
    return out;
  }
  PrintProperties props;
  TranslationState state;
};

TEST_F(TranslateTest, DefaultPrintNormalOfAbc) {
  const PreparedPrint p = PreparePrintNormal(kSerialTranslation, props, state, "abc");
  ASSERT_EQ(p.result, OPOS_SUCCESS);
  EXPECT_FALSE(p.heldBack);
  EXPECT_EQ(Hex(p.bytes), Hex(B({0x1B, 0x45, 0x30, 0x1B, 0x2D, 0x30, 0x1B, 0x21, 0x46, 0x1D, 0x42,
                                 0x30, 0x1B, 0x61, 0x30, 0x1B, 0x33, 0x3C, 0x61, 0x62, 0x63})));
}

TEST_F(TranslateTest, PrefixAndLineSpacingFollowProperties) {
  props.RecLineChars = 56;
  PreparedPrint p = PreparePrintNormal(kSerialTranslation, props, state, "\x1b|N");
  EXPECT_EQ(Hex(p.bytes.substr(0, 18)), Hex(B({0x1B, 0x45, 0x30, 0x1B, 0x2D, 0x30, 0x1B, 0x21, 0x47, 0x1D,
                                               0x42, 0x30, 0x1B, 0x61, 0x30, 0x1B, 0x33, 0x3C})));
  EXPECT_EQ(static_cast<uint8_t>(p.bytes.back()), 0x41);  // ESC|N selects the 56-column font

  const struct {
    int32_t mapMode, spacing;
    uint8_t v;
  } cases[] = {
      {PTR_MM_METRIC, 375, 60}, {PTR_MM_TWIPS, 213, 60}, {PTR_MM_DOTS, 200, 255},
      {PTR_MM_DOTS, 0, 1},      {PTR_MM_DOTS, -40, 1},   {PTR_MM_ENGLISH, 2000, 255},
  };
  for (const auto& c : cases) {
    props.MapMode = c.mapMode;
    props.RecLineSpacing = c.spacing;
    EXPECT_EQ(LineSpacingParameter(props), c.v) << c.mapMode << " " << c.spacing;
  }
}

TEST_F(TranslateTest, AlignmentOnlyAtLineStart) {
  EXPECT_EQ(Hex(Tr("\x1b|cAab\x1b|cAc")), Hex(B({0x1B, 0x61, 0x31}) + "abc"));
  // A new call starts at a line start even without a preceding line end.
  EXPECT_EQ(Hex(Tr("\x1b|rAx")), Hex(B({0x1B, 0x61, 0x32}) + "x"));
  // Only the first of two alignments at one line start is taken.
  EXPECT_EQ(Hex(Tr("\x1b|cA\x1b|rA")), Hex(B({0x1B, 0x61, 0x31})));
  EXPECT_EQ(Hex(Tr("a\n\x1b|cAb")), Hex("a\n" + B({0x1B, 0x61, 0x31}) + "b"));
}

TEST_F(TranslateTest, CharacterStyles) {
  EXPECT_EQ(Hex(Tr("\x1b|2C\x1b|uC\x1b|1C")),
            Hex(B({0x1B, 0x21, 0x60, 0x1B, 0x2D, 0x31, 0x1B, 0x21, 0x40, 0x1B, 0x2D, 0x31})));
  EXPECT_EQ(Hex(Tr("\x1b|2vC\x1b|3hC")), Hex(B({0x1B, 0x21, 0x50, 0x1D, 0x21, 0x21})));
  EXPECT_EQ(Hex(Tr("\x1b|4C\x1b|3C")), Hex(B({0x1B, 0x21, 0x70, 0x1B, 0x21, 0x50})));
  EXPECT_EQ(Hex(Tr("\x1b|bC\x1b|2uC\x1b|1C")),
            Hex(B({0x1B, 0x45, 0x31, 0x1B, 0x2D, 0x32, 0x1B, 0x21, 0x48, 0x1B, 0x2D, 0x32})));
  EXPECT_EQ(Hex(Tr("\x1b|rvC\x1b|iC\x1b|3sC")), Hex(B({0x1D, 0x42, 0x01})));
  // ESC|N clears emphasis and underline; centring only at a line start.
  EXPECT_EQ(
      Hex(Tr("\x1b|bC\x1b|uCa\x1b|N\x1b|1C")),
      Hex(B({0x1B, 0x45, 0x31, 0x1B, 0x2D, 0x31}) + "a" +
          B({0x1D, 0x42, 0x80, 0x1B, 0x45, 0x30, 0x1B, 0x2D, 0x30, 0x1B, 0x21, 0x40, 0x1B, 0x21, 0x40})));
  EXPECT_EQ(Hex(Tr("\x1b|N").substr(0, 3)), Hex(B({0x1B, 0x61, 0x30})));
}

TEST_F(TranslateTest, WidthAndHeightSizes) {
  EXPECT_EQ(Hex(Tr("\x1b|2hC\x1b|1hC")), Hex(B({0x1B, 0x21, 0x60, 0x1B, 0x21, 0x40})));
  // Once GS ! is in use, ESC|2hC widens through it.
  EXPECT_EQ(Hex(Tr("\x1b|3vC\x1b|2hC")), Hex(B({0x1D, 0x21, 0x02, 0x1D, 0x21, 0x12})));
  EXPECT_EQ(Hex(Tr("\x1b|2hC\x1b|4vC")), Hex(B({0x1B, 0x21, 0x60, 0x1D, 0x21, 0x13})));
  EXPECT_EQ(Hex(Tr("\x1b|8hC\x1b|8vC")), Hex(B({0x1D, 0x21, 0x70, 0x1D, 0x21, 0x77})));
  // Sizes out of range are consumed without output.
  EXPECT_EQ(Tr("\x1b|0hC\x1b|9vC\x1b|12hC"), "");
  // GS ! nibbles never pass 7 however often the width is raised.
  EXPECT_EQ(Hex(Tr("\x1b|8hC\x1b|2hC\x1b|2hC")),
            Hex(B({0x1D, 0x21, 0x70, 0x1D, 0x21, 0x70, 0x1D, 0x21, 0x70})));
  EXPECT_EQ(Hex(Tr("\x1b|8vC\x1b|2vC\x1b|3hC")),
            Hex(B({0x1D, 0x21, 0x07, 0x1B, 0x21, 0x50, 0x1D, 0x21, 0x27})));
}

TEST_F(TranslateTest, LibraryDifferences) {
  EXPECT_EQ(Tr("\x1b|rC"), "");
  EXPECT_EQ(Hex(Tr("\x1b|rC", kParallelTranslation)), Hex(B({0x1B, 0x72, 0x01})));
  EXPECT_EQ(Hex(Tr("\x1b|10uF")), Hex(B({0x1B, 0x33, 0x14, 0x0A})));
  EXPECT_EQ(Hex(Tr("\x1b|10uF", kUsbTranslation)), Hex(B({0x1B, 0x33, 0x14, 0x0A, 0x1B, 0x33, 0x3C})));
}

TEST_F(TranslateTest, FeedsAndCuts) {
  EXPECT_EQ(Tr("\x1b|lF"), "\n");
  EXPECT_EQ(Tr("\x1b|0lF"), "\n");
  EXPECT_EQ(Tr("\x1b|3lF"), "\n\n\n");
  EXPECT_EQ(Tr("\x1b|1000lF"), std::string(1000, '\n'));
  EXPECT_EQ(Tr("\x1b|rF"), "");
  EXPECT_EQ(Hex(Tr("\x1b|0uF")), Hex(B({0x1B, 0x33, 0x01, 0x0A})));
  EXPECT_EQ(Hex(Tr("\x1b|50uF")), Hex(B({0x1B, 0x33, 0x64, 0x0A})));
  // Above 50 dots: floor(d/50)+1 pieces of at most 50 dots that add up to d.
  EXPECT_EQ(Hex(Tr("\x1b|100uF")),
            Hex(B({0x1B, 0x33, 0x44, 0x0A, 0x1B, 0x33, 0x42, 0x0A, 0x1B, 0x33, 0x42, 0x0A})));
  EXPECT_EQ(
      Hex(Tr("\x1b|120uF", kParallelTranslation)),
      Hex(B({0x1B, 0x33, 0x50, 0x0A, 0x1B, 0x33, 0x50, 0x0A, 0x1B, 0x33, 0x50, 0x0A, 0x1B, 0x33, 0x3C})));
  props.MapMode = PTR_MM_METRIC;  // 125 hundredths of a mm = 10 dots
  EXPECT_EQ(Hex(Tr("\x1b|125uF")), Hex(B({0x1B, 0x33, 0x14, 0x0A})));

  EXPECT_EQ(Hex(Tr("\x1b|100P")), Hex(B({0x1B, 0x6D})));
  EXPECT_EQ(Hex(Tr("\x1b|P")), Hex(B({0x1B, 0x6D})));
  EXPECT_EQ(Hex(Tr("\x1b|fP")), Hex("\n\n\n\n\n" + B({0x1B, 0x6D})));
  props.RecLinesToPaperCut = -3;
  EXPECT_EQ(Hex(Tr("\x1b|fP")), Hex(B({0x1B, 0x6D})));
  EXPECT_EQ(Tr("\x1b|sP\x1b|fT\x1b|sL"), "");
}

TEST_F(TranslateTest, LogosAndStoredBitmapEscapes) {
  state.strTopLogo = B({0x1B, 0x61, 0x31}) + "SHOP";
  state.strBottomLogo = "BYE";
  EXPECT_EQ(Hex(Tr("\x1b|tL-\x1b|bL")), Hex(state.strTopLogo + "-BYE"));
  // Stored bitmaps are resolved by the output path; they pass as they are.
  EXPECT_EQ(Tr("\x1b|1Bx\x1b|2B"), "\x1b|1Bx\x1b|2B");
}

TEST_F(TranslateTest, UnrecognisedAndTruncatedSequencesPassAsText) {
  const char* cases[] = {"\x1b|xZ",  "\x1b|5C", "\x1b|aC", "\x1b|A",     "\x1b|cF",
                         "\x1b|rvX", "\x1b|",   "\x1b|12", "\x1b|c",     "\x1b|zP",
                         "\x1b|uL",  "\x1b|bT", "\x1b|1U", "\x1b|2\x80", "\x1b|ab"};
  for (const char* c : cases) EXPECT_EQ(Hex(Tr(c)), Hex(c)) << Hex(c);
  EXPECT_EQ(Tr("a\x1b"), "a\x1b");
  EXPECT_EQ(Tr("\x1bx"), "\x1bx");
  // Unrecognised text counts as columns; ESC | itself does not.
  state = TranslationState{};
  (void)Tr("\x1b|xZ");
  EXPECT_EQ(state.nSavedColumn, 2);
}

TEST_F(TranslateTest, ColumnBookkeeping) {
  (void)Tr("abc");
  EXPECT_TRUE(state.bColumnCarry);
  EXPECT_EQ(state.nSavedColumn, 3);
  (void)Tr("\x1b|2Cde");  // double width: two columns per character
  EXPECT_EQ(state.nSavedColumn, 7);
  (void)Tr("f\r\nxy");  // a line end stops the carry for this call
  EXPECT_FALSE(state.bColumnCarry);
  EXPECT_EQ(state.nRotatedMaxColumns, 8);
  (void)Tr("\x1b|4Cab\nc");  // width extra ends with the line
  EXPECT_EQ(state.nRotatedMaxColumns, 8);
  EXPECT_FALSE(state.bColumnCarry);
  EXPECT_EQ(state.nSavedColumn, 0);
  (void)Tr("\x1b|8hC0123456789\n");
  EXPECT_EQ(state.nRotatedMaxColumns, 80);

  // Columns saturate instead of overflowing.
  state.nSavedColumn = 2147483640;
  state.bColumnCarry = true;
  (void)Tr("\x1b|8hCabc");
  EXPECT_EQ(state.nSavedColumn, 2147483647);

  state.ResetForClaim();
  EXPECT_FALSE(state.bColumnCarry);
}

TEST_F(TranslateTest, BinaryConversion) {
  std::string out;
  EXPECT_EQ(ApplyBinaryConversion(OPOS_BC_NIBBLE, "4142", out), OPOS_SUCCESS);
  EXPECT_EQ(out, "AB");
  EXPECT_EQ(ApplyBinaryConversion(OPOS_BC_NIBBLE, "414", out), OPOS_E_ILLEGAL);
  EXPECT_EQ(ApplyBinaryConversion(OPOS_BC_NIBBLE, "?:", out), OPOS_SUCCESS);
  EXPECT_EQ(out, "\xFA");

  const struct {
    const char* in;
    int32_t result;
    std::string out;
  } decimal[] = {
      {"065066", OPOS_SUCCESS, "AB"},
      {"^65", OPOS_SUCCESS, "A"},
      {" 65-01", OPOS_SUCCESS, "A\xFF"},
      {"300+10", OPOS_SUCCESS, B({0x2C, 0x0A})},
      {"000065", OPOS_SUCCESS, B({0x00, 0x41})},  // a zero byte is data, not an end
      // Blanks pad a group on either side; a group of blanks or a bare sign reads as 0.
      {"65   1", OPOS_SUCCESS, "A\x01"},
      {"   -  +  ", OPOS_SUCCESS, B({0, 0, 0})},
      {"06", OPOS_E_ILLEGAL, ""},
      {"065abc", OPOS_E_ILLEGAL, ""},
      {"12a", OPOS_E_ILLEGAL, ""},
      {"6 5", OPOS_E_ILLEGAL, ""},
      {"- 1", OPOS_E_ILLEGAL, ""},
      {"+-1", OPOS_E_ILLEGAL, ""},
  };
  for (const auto& c : decimal) {
    EXPECT_EQ(ApplyBinaryConversion(OPOS_BC_DECIMAL, c.in, out), c.result) << c.in;
    EXPECT_EQ(Hex(out), Hex(c.out)) << c.in;
  }
  EXPECT_EQ(ApplyBinaryConversion(5, "abc", out), OPOS_E_ILLEGAL);

  props.BinaryConversion = OPOS_BC_NIBBLE;
  PreparedPrint p = PreparePrintNormal(kSerialTranslation, props, state, "41004243");
  ASSERT_EQ(p.result, OPOS_SUCCESS);
  EXPECT_EQ(Hex(p.bytes.substr(18)), Hex(B({0x41, 0x00, 0x42, 0x43})));
  EXPECT_EQ(PreparePrintNormal(kSerialTranslation, props, state, "414").result, OPOS_E_ILLEGAL);
  EXPECT_EQ(ValidatePrintData(kSerialTranslation, props, state, "123"), OPOS_E_ILLEGAL);
}

TEST_F(TranslateTest, LargeDataIsTranslatedWhole) {
  std::string in;
  for (int i = 0; i < 200000; ++i) in += "\x1b|bC\x1b|2Citem 0123456789 \x1b|N\n";
  const std::string out = Tr(in);
  // Per 28-byte input line: ESC E, ESC !, 16 text bytes, ESC|N mid-line, LF.
  EXPECT_EQ(in.size(), 200000u * 28u);
  EXPECT_EQ(out.size(), 200000u * 35u);
  EXPECT_EQ(out.substr(out.size() - 3), B({0x21, 0x40, 0x0A}));
}

TEST_F(TranslateTest, RunawayFeedCountsAreRefusedWithoutChange) {
  state.strTopLogo = std::string(1000, 'L');
  std::string logos;
  for (int i = 0; i < 5000; ++i) logos += "\x1b|tL";
  const std::vector<std::string> cases = {"ab\nc\x1b|2000000000lF", "\x1b|99999999999999999999999lF",
                                          "\x1b|99999999uF", "\x1b|2000000000000uF", logos};
  for (const std::string& in : cases) {
    state.nSavedColumn = 4;
    state.bColumnCarry = true;
    state.nRotatedMaxColumns = 1;
    std::string out = "keep";
    EXPECT_EQ(TranslatePrintData(kSerialTranslation, props, state, in, out), OPOS_E_ILLEGAL);
    EXPECT_EQ(out, "keep");
    EXPECT_EQ(state.nSavedColumn, 4);
    EXPECT_TRUE(state.bColumnCarry);
    EXPECT_EQ(state.nRotatedMaxColumns, 1);
  }
  props.RecLinesToPaperCut = 2000000000;
  EXPECT_EQ(PreparePrintNormal(kSerialTranslation, props, state, "\x1b|fP").result, OPOS_E_ILLEGAL);
}

TEST_F(TranslateTest, RotatedHoldBack) {
  state.nRotateMode = 1;
  const std::string prefix = kPrefix42;  // no ESC 3 while rotated
  PreparedPrint p = PreparePrintNormal(kSerialTranslation, props, state, "abc");
  EXPECT_EQ(p.result, OPOS_SUCCESS);
  EXPECT_TRUE(p.heldBack);
  EXPECT_TRUE(p.bytes.empty());
  p = PreparePrintNormal(kSerialTranslation, props, state, "def\n");
  EXPECT_FALSE(p.heldBack);
  EXPECT_EQ(Hex(p.bytes), Hex(prefix + "abc" + prefix + "def\n"));
  EXPECT_TRUE(state.strRotatedPending.empty());
  EXPECT_EQ(state.nRotatedMaxColumns, 6);

  // Tall characters put line feeds in front; the largest of the held-back
  // calls counts, and unit feeds are ignored in page mode.
  p = PreparePrintNormal(kSerialTranslation, props, state, "\x1b|8vCx\x1b|20uF");
  EXPECT_TRUE(p.heldBack);
  EXPECT_EQ(state.nRotatedExtraLines, 7);
  p = PreparePrintNormal(kSerialTranslation, props, state, "\x1b|2vCy\r");
  EXPECT_EQ(p.bytes.substr(0, 8), std::string(7, '\n') + "\x1b");
  EXPECT_EQ(p.bytes.find("\x1b\x33"), std::string::npos);
  EXPECT_EQ(state.nRotatedExtraLines, 0);

  EXPECT_EQ(ScanRotatedExtraLines("a\x1b|3Cb\x1b|2vC"), 1);
  EXPECT_EQ(ScanRotatedExtraLines("\x1b|5vC\x1b|4C"), 4);
  EXPECT_EQ(ScanRotatedExtraLines("\x1b|13C\x1b|12vC\x1b|2C"), 0);
}

TEST(UnitConversion, ToDotsRoundsHalfUp) {
  EXPECT_EQ(ToDots(1000, PTR_MM_TWIPS), 141);
  EXPECT_EQ(ToDots(500, PTR_MM_ENGLISH), 102);
  EXPECT_EQ(ToDots(375, PTR_MM_METRIC), 30);
  EXPECT_EQ(ToDots(6, PTR_MM_METRIC), 0);  // 0.48
  EXPECT_EQ(ToDots(7, PTR_MM_METRIC), 1);  // 0.56
  EXPECT_EQ(ToDots(-7, PTR_MM_DOTS), -7);
  EXPECT_EQ(ToDots(123, 9), 123);
}

}  // namespace
}  // namespace opos
