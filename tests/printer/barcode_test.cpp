#include "printer/barcode.h"

#include <gtest/gtest.h>

#include "tests/printer/test_util.h"

namespace opos {
namespace {

using test::B;
using test::Hex;

class BarCodeTest : public ::testing::Test {
 protected:
  BarCodeCommand Build(std::string_view data, int32_t symbology, int32_t height, int32_t width,
                       int32_t alignment = PTR_BC_CENTER, int32_t text = PTR_BC_TEXT_BELOW,
                       const BarcodeProfile& profile = kSerialBarcode) {
    request.data = data;
    request.symbology = symbology;
    request.height = height;
    request.width = width;
    request.alignment = alignment;
    request.textPosition = text;
    return BuildBarCodeCommand(profile, props, request);
  }
  // Parameter byte of the command `cmd` (e.g. 0x77 for GS w) in the block.
  static int Param(const BarCodeCommand& c, uint8_t lead, uint8_t cmd) {
    for (size_t i = 0; i + 2 < c.bytes.size(); ++i) {
      if (static_cast<uint8_t>(c.bytes[i]) == lead && static_cast<uint8_t>(c.bytes[i + 1]) == cmd) {
        return static_cast<uint8_t>(c.bytes[i + 2]);
      }
    }
    return -1;
  }
  // The GS k length byte and the data.
  static std::string Data(const BarCodeCommand& c) { return c.bytes.substr(18); }
  void ExpectRefused(const BarCodeCommand& c) {
    EXPECT_EQ(c.result, OPOS_E_ILLEGAL);
    EXPECT_EQ(c.resultExtended, 0);
    EXPECT_TRUE(c.bytes.empty());
  }

  PrintProperties props;
  BarCodeRequest request;
};

TEST_F(BarCodeTest, Code39CommandBlock) {
  const BarCodeCommand c = Build("12345", PTR_BCS_Code39, 100, 512);
  ASSERT_EQ(c.result, OPOS_SUCCESS);
  EXPECT_EQ(Hex(c.bytes), Hex(B({0x1D, 0x66, 0x30, 0x1D, 0x77, 0x04, 0x1D, 0x68, 0x65, 0x1B, 0x61, 0x31, 0x1D,
                                 0x48, 0x32, 0x1D, 0x6B, 0x45, 0x05}) +
                              "12345"));
  EXPECT_EQ(Param(Build("12345", PTR_BCS_Code39, 100, 300), 0x1D, 0x77), 2);
  // 512 dots as twips (3628 x 0.1411 = 511.95).
  props.MapMode = PTR_MM_TWIPS;
  props.RecLineWidth = 4096;
  EXPECT_EQ(Param(Build("12345", PTR_BCS_Code39, 100, 3628), 0x1D, 0x77), 4);
}

TEST_F(BarCodeTest, ThresholdTables) {
  const struct {
    int32_t symbology;
    const char* data;
    int32_t width;
    int module;
  } cases[] = {
      {PTR_BCS_UPCA, "01234567890", 300, 3},
      {PTR_BCS_UPCA, "012345678905", 284, 2},
      {PTR_BCS_JAN13, "012345678901", 475, 5},
      {PTR_BCS_UPCA, "01234567890", 588, 5},
      {PTR_BCS_UPCE, "01234567890", 66, 2},
      {PTR_BCS_UPCE, "01234567890", 67, 3},
      {PTR_BCS_UPCE, "01234567890", 257, 6},
      {PTR_BCS_JAN8, "0123456", 200, 2},
      {PTR_BCS_JAN8, "01234567", 201, 3},
      {PTR_BCS_JAN8, "0123456", 402, 6},
      // Module width 6 is never chosen for UPC-A and EAN-13; a negative width asks for the narrowest.
      {PTR_BCS_UPCA, "01234567890", INT32_MAX, 5},
      {PTR_BCS_JAN13, "012345678901", INT32_MAX, 5},
      {PTR_BCS_UPCE, "01234567890", INT32_MAX, 6},
      {PTR_BCS_UPCA, "01234567890", INT32_MIN, 2},
      {PTR_BCS_JAN8, "0123456", -1, 2},
      {PTR_BCS_Code39, "1", INT32_MIN, 2},
      {PTR_BCS_Code128, "1", INT32_MAX, 6},
  };
  props.RecLineWidth = INT32_MAX;  // a stored RecLineWidth lets any width through
  for (const auto& c : cases) {
    const BarCodeCommand cmd = Build(c.data, c.symbology, 50, c.width);
    ASSERT_EQ(cmd.result, OPOS_SUCCESS) << c.symbology << " " << c.data;
    EXPECT_EQ(Param(cmd, 0x1D, 0x77), c.module) << c.symbology << " " << c.width;
  }
}

TEST_F(BarCodeTest, BestFitPicksWidestFittingModule) {
  // ITF "1234" at n=6 needs 256 dots, n=5 205.
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_ITF, 4, 256), 6);
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_ITF, 4, 255), 5);
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_Codabar, 10, 100), 2);  // nothing fits
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_ITF, 0, 500), 2);
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_Code93, 0, 500), 6);   // start and stop still count
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_Code128, 5, 320), 4);  // 5 x 64 = 320 fits exactly
  EXPECT_EQ(SelectModuleWidth(PTR_BCS_Code128, 5, 20000), 6);
}

TEST_F(BarCodeTest, DataRules) {
  ExpectRefused(Build("0123456789", PTR_BCS_UPCA, 50, 300));
  ExpectRefused(Build("11234567890", PTR_BCS_UPCE, 50, 300));
  EXPECT_EQ(Param(Build("01234567890", PTR_BCS_UPCE, 50, 300), 0x1D, 0x6B), 0x42);
  ExpectRefused(Build("012345", PTR_BCS_JAN8, 50, 300));
  ExpectRefused(Build("01234567890", PTR_BCS_JAN13, 50, 300));
  ExpectRefused(Build("12345", PTR_BCS_TF, 50, 300));
  ExpectRefused(Build("12345", 111, 50, 300));

  ExpectRefused(Build("123", PTR_BCS_ITF, 50, 300, PTR_BC_CENTER, PTR_BC_TEXT_BELOW, kSerialBarcode));
  ExpectRefused(Build("123", PTR_BCS_ITF, 50, 300, PTR_BC_CENTER, PTR_BC_TEXT_BELOW, kParallelBarcode));
  const BarCodeCommand usb =
      Build("123", PTR_BCS_ITF, 50, 300, PTR_BC_CENTER, PTR_BC_TEXT_BELOW, kUsbBarcode);
  ASSERT_EQ(usb.result, OPOS_SUCCESS);
  EXPECT_EQ(Hex(usb.bytes.substr(16)), Hex(B({0x6B, 0x46, 0x03}) + "123"));

  EXPECT_EQ(Hex(Data(Build("123", PTR_BCS_Code128, 50, 300))), Hex(B({0x05}) + "{A123"));
  EXPECT_EQ(Hex(Data(Build("{B12", PTR_BCS_Code128, 50, 300))), Hex(B({0x06}) + "{A{B12"));
  EXPECT_EQ(Hex(Data(Build("x{Ay", PTR_BCS_Code128, 50, 300))), Hex(B({0x04}) + "x{Ay"));
}

TEST_F(BarCodeTest, DataLengthFitsTheLengthByte) {
  const std::string d255(255, '1');
  const BarCodeCommand c = Build(d255, PTR_BCS_Codabar, 50, 588);
  ASSERT_EQ(c.result, OPOS_SUCCESS);
  EXPECT_EQ(Hex(Data(c)), Hex(B({0xFF}) + d255));
  ExpectRefused(Build(std::string(256, '1'), PTR_BCS_Codabar, 50, 588));
  ExpectRefused(Build(std::string(254, '1'), PTR_BCS_Code128, 50, 588));  // prefix makes 256
  ExpectRefused(Build(std::string(100000, '1'), PTR_BCS_Code39, 50, 588));
}

TEST_F(BarCodeTest, HeightAlignmentAndText) {
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 300, 100), 0x1D, 0x68), 0xFF);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 254, 100), 0x1D, 0x68), 0xFF);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 0, 100), 0x1D, 0x68), 0x01);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 2147483647, 100), 0x1D, 0x68), 0xFF);
  ExpectRefused(Build("1", PTR_BCS_Code39, -1, 100));

  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100, PTR_BC_LEFT), 0x1B, 0x61), 0x30);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100, PTR_BC_RIGHT), 0x1B, 0x61), 0x32);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100, 50), 0x1B, 0x61), 0x31);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100, PTR_BC_CENTER, PTR_BC_TEXT_NONE), 0x1D, 0x48), 0x30);
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100, PTR_BC_CENTER, PTR_BC_TEXT_ABOVE), 0x1D, 0x48), 0x31);
  ExpectRefused(Build("1", PTR_BCS_Code39, 10, 100, PTR_BC_CENTER, 0));

  props.RecLineChars = 56;
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 10, 100), 0x1D, 0x66), 0x31);
  props.MapMode = PTR_MM_METRIC;  // 1000 hundredths of a mm = 80 dots
  props.RecLineWidth = 7224;
  EXPECT_EQ(Param(Build("1", PTR_BCS_Code39, 1000, 100), 0x1D, 0x68), 81);
}

TEST_F(BarCodeTest, RequestChecks) {
  request.station = PTR_S_JOURNAL;
  ExpectRefused(Build("1", PTR_BCS_Code39, 10, 100));
  request.station = PTR_S_RECEIPT;
  props.RotateSpecial = PTR_RP_LEFT90;
  ExpectRefused(Build("1", PTR_BCS_Code39, 10, 100));
  props.RotateSpecial = PTR_RP_NORMAL;
  ExpectRefused(Build("1", PTR_BCS_Code39, 10, 589));
  EXPECT_EQ(Build("1", PTR_BCS_Code39, 10, 588).result, OPOS_SUCCESS);

  props.BinaryConversion = OPOS_BC_NIBBLE;
  EXPECT_EQ(Hex(Data(Build("313233", PTR_BCS_Code39, 10, 100))), Hex(B({0x03}) + "123"));
  ExpectRefused(Build("31323", PTR_BCS_Code39, 10, 100));
  props.BinaryConversion = OPOS_BC_DECIMAL;
  ExpectRefused(Build("04x", PTR_BCS_Code39, 10, 100));
}

}  // namespace
}  // namespace opos
