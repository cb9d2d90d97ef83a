// The property table's arithmetic at its edges: unit conversions that must
// round, saturate or refuse, the lines to the cut for any spacing, and the
// values that differ between the libraries.
#include <gtest/gtest.h>

#include "printer/printer_properties.h"

namespace opos::test {
namespace {

int32_t Get(const PrinterProperties& p, int32_t index) {
  int32_t v = -12345;
  EXPECT_TRUE(p.Get(index, &v)) << index;
  return v;
}

TEST(PrinterPropertiesTest, LibrariesDifferInErrorStationAndEmptySensorOnly) {
  PrinterProperties serial(kSerialPrinter), usb(kUsbPrinter);
  EXPECT_EQ(Get(serial, PIDXPtr_ErrorStation), 0);
  EXPECT_EQ(Get(usb, PIDXPtr_ErrorStation), PTR_S_RECEIPT);
  EXPECT_EQ(Get(serial, PIDXPtr_CapRecEmptySensor), 0);
  EXPECT_EQ(Get(usb, PIDXPtr_CapRecEmptySensor), 1);
  for (int32_t i = PIDXPtr_AsyncMode; i <= PIDXPtr_CapTransaction; ++i) {
    int32_t a = 0, b = 0;
    ASSERT_EQ(serial.Get(i, &a), usb.Get(i, &b)) << i;
    if (i != PIDXPtr_ErrorStation && i != PIDXPtr_CapRecEmptySensor) {
      EXPECT_EQ(a, b) << i;
    }
  }
  int32_t v = 0;
  EXPECT_FALSE(serial.Get(8037, &v));  // between the tables: not a printer property
}

TEST(PrinterPropertiesTest, MapModeRoundTripsAndRefusesModesWithoutAUnit) {
  PrinterProperties p(kSerialPrinter);
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 375);
  ASSERT_EQ(p.SetMapMode(PTR_MM_DOTS), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 30);  // 29.99... would truncate to 29
  ASSERT_EQ(p.SetMapMode(PTR_MM_TWIPS), OPOS_SUCCESS);
  ASSERT_EQ(p.SetMapMode(PTR_MM_ENGLISH), OPOS_SUCCESS);
  // 213 twips = 30.06 dots = 147.9 thousandths of an inch.
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 148);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineWidth), 2844);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineHeight), 133);

  EXPECT_EQ(p.SetMapMode(7), OPOS_E_ILLEGAL);
  EXPECT_EQ(p.SetMapMode(0), OPOS_E_ILLEGAL);
  EXPECT_EQ(Get(p, PIDXPtr_MapMode), PTR_MM_ENGLISH);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 148);

  // Beyond the int32 range the conversion saturates instead of overflowing.
  p.SetRecLineSpacing(2000000000, false);
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 2147483647);
}

TEST(PrinterPropertiesTest, LinesToPaperCutForAnySpacing) {
  PrinterProperties p(kSerialPrinter);
  p.SetRecLineSpacing(24, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 6);
  // Sideways rotation in force: nothing is stored.
  p.SetRecLineSpacing(100, true);
  EXPECT_EQ(Get(p, PIDXPtr_RecLineSpacing), 24);
  // Zero and negative spacings feed like half a dot instead of dividing by 0.
  p.SetRecLineSpacing(0, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 300);
  p.SetRecLineSpacing(-40, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 300);
  p.SetRecLineSpacing(2000000000, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 0);
  // Below half a dot but above zero the rule itself applies: 1/12.5 dot, 1/7.09 dot.
  ASSERT_EQ(p.SetMapMode(PTR_MM_METRIC), OPOS_SUCCESS);
  p.SetRecLineSpacing(1, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 1875);
  ASSERT_EQ(p.SetMapMode(PTR_MM_TWIPS), OPOS_SUCCESS);
  p.SetRecLineSpacing(3, false);
  EXPECT_EQ(Get(p, PIDXPtr_RecLinesToPaperCut), 354);  // 150 / 0.4233 = 354.3
}

TEST(PrinterPropertiesTest, CharacterSetCodeTables) {
  for (auto [set, n] : {std::pair{437, 0},
                        {1, 1},
                        {23, 20},
                        {31, 23},
                        {35, 26},
                        {737, 41},
                        {858, 19},
                        {866, 17},
                        {932, 254},
                        {949, 255},
                        {950, 252},
                        {255, 255},
                        {1252, 16},
                        {1258, 58},
                        {12345, 0},
                        {-1, 0}}) {
    EXPECT_EQ(PrinterProperties::CodeTableFor(set), n) << set;
  }
}

}  // namespace
}  // namespace opos::test
