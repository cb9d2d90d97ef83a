// The printer property table: per-library values, what can be set, and the
// unit conversions behind MapMode and RecLineSpacing.
#include <gtest/gtest.h>

#include "printer/printer_properties.h"

namespace opos::test {
namespace {

int32_t Get(const PrinterProperties& p, int32_t index) {
  int32_t v = -12345;
  EXPECT_TRUE(p.Get(index, &v)) << index;
  return v;
}

TEST(PrinterPropertiesTest, InitialValuesDifferOnlyWhereTheLibrariesDo) {
  PrinterProperties serial(kSerialPrinter);
  PrinterProperties usb(kUsbPrinter);
  EXPECT_EQ(Get(serial, PIDXPtr_ErrorStation), 0);
  EXPECT_EQ(Get(usb, PIDXPtr_ErrorStation), PTR_S_RECEIPT);
  EXPECT_EQ(Get(serial, PIDXPtr_CapRecEmptySensor), 0);
  EXPECT_EQ(Get(usb, PIDXPtr_CapRecEmptySensor), 1);
  EXPECT_EQ(Get(PrinterProperties(kParallelPrinter), PIDXPtr_CapRecEmptySensor), 1);

  struct Expect {
    int32_t index, value;
  };
  for (const Expect& e : {Expect{PIDXPtr_AsyncMode, 0}, {PIDXPtr_CharacterSet, 437}, {PIDXPtr_MapMode, 1},
                          {PIDXPtr_RecLineChars, 42}, {PIDXPtr_RecLineHeight, 24}, {PIDXPtr_RecLineSpacing, 30},
                          {PIDXPtr_RecLinesToPaperCut, 5}, {PIDXPtr_RecLineWidth, 588},
                          {PIDXPtr_RecSidewaysMaxChars, 69}, {PIDXPtr_RecSidewaysMaxLines, 17},
                          {PIDXPtr_SlpEmpty, 1}, {PIDXPtr_ErrorLevel, PTR_EL_NONE},
                          {PIDXPtr_RotateSpecial, PTR_RP_NORMAL}, {PIDXPtr_JrnLineChars, 0},
                          {PIDXPtr_CapCoverSensor, 1}, {PIDXPtr_CapJrnPresent, 0}, {PIDXPtr_CapRecPresent, 1},
                          {PIDXPtr_CapRecItalic, 0}, {PIDXPtr_CapRecRotate180, 0}, {PIDXPtr_CapSlpPresent, 0},
                          {PIDXPtr_CapCharacterSet, PTR_CCS_ASCII}, {PIDXPtr_CapTransaction, 1}}) {
    EXPECT_EQ(Get(serial, e.index), e.value) << e.index;
    EXPECT_EQ(Get(usb, e.index), e.value) << e.index;
  }
  int32_t v = 0;
  EXPECT_FALSE(serial.Get(8037, &v));
  EXPECT_FALSE(serial.Get(PIDX_Claimed, &v));
}

TEST(PrinterPropertiesTest, StringProperties) {
  PrinterProperties p(kSerialPrinter);
  std::string s;
  ASSERT_TRUE(p.GetString(PIDXPtr_CharacterSetList, &s));
  EXPECT_EQ(s.substr(0, 24), "437,1(Katakana),850,855,");
  EXPECT_NE(s.find("23(Thai42),34(Thai11)"), std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 15), "936,932,949,950");
  ASSERT_TRUE(p.GetString(PIDXPtr_RecLineCharsList, &s));
  EXPECT_EQ(s, "42,56");
  ASSERT_TRUE(p.GetString(PIDXPtr_SlpLineCharsList, &s));
  EXPECT_EQ(s, "80");
  ASSERT_TRUE(p.GetString(PIDXPtr_RecBarCodeRotationList, &s));
  EXPECT_EQ(s, "0");
  ASSERT_TRUE(p.GetString(PIDXPtr_FontTypefaceList, &s));
  EXPECT_EQ(s, "");
  p.SetErrorString("Printer cover is open.");
  ASSERT_TRUE(p.GetString(PIDXPtr_ErrorString, &s));
  EXPECT_EQ(s, "Printer cover is open.");
  EXPECT_FALSE(p.GetString(PIDX_DeviceName, &s));
}

TEST(PrinterPropertiesTest, SettableIndexesAndRecLineCharsSnapping) {
  for (int32_t i : {PIDXPtr_AsyncMode, PIDXPtr_CharacterSet, PIDXPtr_FlagWhenIdle, PIDXPtr_MapMode,
                    PIDXPtr_RecLineChars, PIDXPtr_RecLineSpacing, PIDXPtr_RecLineWidth, PIDXPtr_SlpLineWidth,
                    PIDXPtr_RotateSpecial, PIDXPtr_JrnLetterQuality}) {
    EXPECT_TRUE(PrinterProperties::IsSettable(i)) << i;
  }
  for (int32_t i : {PIDXPtr_CoverOpen, PIDXPtr_ErrorStation, PIDXPtr_RecEmpty, PIDXPtr_RecLinesToPaperCut,
                    PIDXPtr_ErrorLevel, PIDXPtr_SlpEmpty, PIDXPtr_CapRecBold, PIDX_Claimed}) {
    EXPECT_FALSE(PrinterProperties::IsSettable(i)) << i;
  }
  PrinterProperties p(kSerialPrinter);
  for (auto [set, read] : {std::pair{43, 56}, {0, 42}, {42, 42}, {1000, 56}, {-5, 42}}) {
    ASSERT_TRUE(p.SetPlain(PIDXPtr_RecLineChars, set));
    EXPECT_EQ(Get(p, PIDXPtr_RecLineChars), read) << set;
  }
  EXPECT_FALSE(p.SetPlain(PIDXPtr_CoverOpen, 1));
  EXPECT_EQ(Get(p, PIDXPtr_CoverOpen), 0);
}

TEST(PrinterPropertiesTest, MapModeConvertsTheSpacingAndFixesWidthAndHeight) {
  PrinterProperties p(kSerialPrinter);
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 375);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineWidth), 7224);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineHeight), 338);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 5);  // not recomputed
  ASSERT_EQ(p.SetMapMode(PTR_MM_DOTS), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 30);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineWidth), 588);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineHeight), 24);

  ASSERT_EQ(p.SetMapMode(PTR_MM_TWIPS), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 213);  // 212.6 rounded
  EXPECT_EQ(Get(p, PIDXPtr_RecLineWidth), 4096);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineHeight), 192);
  ASSERT_EQ(p.SetMapMode(PTR_MM_ENGLISH), OPOS_SUCCESS);
  // 213 twips = 30.06 dots = 147.9 thousandths of an inch.
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 148);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineWidth), 2844);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineHeight), 133);

  // A mode without a unit factor is refused and changes nothing.
  EXPECT_EQ(p.SetMapMode(7), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.SetMapMode(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(Get(p, PIDXPtr_MapMode), PTR_MM_ENGLISH);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 148);

  // Values beyond the int32 range saturate rather than overflow.
  p.SetRecLineSpacing(2000000000, false);
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 2147483647);
}

TEST(PrinterPropertiesTest, RecLineSpacingSetsTheLinesToPaperCut) {
  PrinterProperties p(kSerialPrinter);
  p.SetRecLineSpacing(24, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 6);
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  p.SetRecLineSpacing(375, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 5);
  // Sideways rotation in force: nothing is stored.
  p.SetRecLineSpacing(100, true);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 375);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 5);
  // Zero and negative spacings feed like half a dot instead of dividing by 0.
  p.SetRecLineSpacing(0, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 300);
  p.SetRecLineSpacing(-40, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 300);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), -40);
}

TEST(PrinterPropertiesTest, CharacterSetCodeTables) {
  struct Case {
    int32_t set;
    int n;
  };
  for (const Case& c : {Case{437, 0}, {1, 1}, {23, 20}, {31, 23}, {34, 21}, {35, 26}, {39, 24}, {737, 41},
                        {775, 42}, {850, 2}, {852, 18}, {855, 43}, {857, 44}, {858, 19}, {860, 3}, {861, 45},
                        {862, 46}, {863, 4}, {864, 47}, {865, 5}, {866, 17}, {869, 48}, {874, 27}, {932, 254},
                        {936, 253}, {949, 255}, {950, 252}, {255, 255}, {1251, 51}, {1252, 16}, {1253, 53},
                        {1254, 54}, {1255, 55}, {1256, 56}, {1257, 57}, {1258, 58}, {12345, 0}, {-1, 0}}) {
    EXPECT_EQ(PrinterProperties::CodeTableFor(c.set), c.n) << c.set;
  }
}

TEST(PrinterPropertiesTest, SnapshotCarriesWhatTranslationReads) {
  PrinterProperties p(kSerialPrinter);
  p.SetPlain(PIDXPtr_RecLineChars, 56);
  ASSERT_EQ(p.SetMapMode(PTR_MM_TWIPS), OPOS_SUCCESS);
  const PrintProperties s = p.Snapshot(OPOS_BC_NIBBLE);
  EXPECT_EQ(s.BinaryConversion, OPOS_BC_NIBBLE);
  EXPECT_EQ(s.RecLineChars, 56);
  EXPECT_EQ(s.MapMode, PTR_MM_TWIPS);
  EXPECT_EQ(s.RecLineSpacing, 213);
  EXPECT_EQ(s.RecLineWidth, 4096);
}

}  // namespace
}  // namespace opos::test
