// UTF-8 text in the printer's code page, checked against glibc's iconv tables
// (the conversion itself uses tables generated from another source).
#include "printer/code_page.h"

#include <iconv.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "printer/barcode.h"
#include "printer/printer_properties.h"
#include "tests/printer/test_util.h"

namespace opos {
namespace {

using test::B;
using test::Hex;

// One character through iconv; nullopt when the page lacks it.
std::optional<std::string> Iconv(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string input = in;
  char buf[16];
  char* inp = input.data();
  size_t inLeft = input.size();
  char* outp = buf;
  size_t outLeft = sizeof buf;
  size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  // Stateful pages (1258) hold a base letter back for a combining mark.
  if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &outp, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1) || inLeft != 0 || outp == buf) return std::nullopt;
  return std::string(buf, outp);
}

size_t Utf8Length(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// What the page's own table makes of UTF-8 text: ASCII as it is, each other
// character encoded alone, '?' where the page has none (for a single-byte
// page: no byte of its upper half).
std::string Expected(const char* page, bool singleByte, const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const size_t len = Utf8Length(static_cast<unsigned char>(utf8[i]));
    const std::string ch = utf8.substr(i, len);
    if (len == 1) {
      out += ch;
    } else {
      std::string enc = Iconv(page, "UTF-8", ch).value_or("?");
      if (singleByte && (enc.size() != 1 || static_cast<unsigned char>(enc[0]) < 0x80)) enc = "?";
      out += enc;
    }
    i += len;
  }
  return out;
}

std::string Convert(int32_t characterSet, std::string text) {
  Utf8ToCodeTable(PrinterProperties::CodeTableFor(characterSet), text);
  return text;
}

struct Page {
  int32_t characterSet;
  const char* iconv;
  bool singleByte;
};

constexpr Page kPages[] = {
    {437, "IBM437", true},  {850, "IBM850", true},  {852, "IBM852", true},  {858, "IBM858", true},
    {860, "IBM860", true},  {861, "IBM861", true},  {862, "IBM862", true},  {863, "IBM863", true},
    {864, "IBM864", true},  {865, "IBM865", true},  {866, "IBM866", true},  {737, "CP737", true},
    {775, "IBM775", true},  {855, "IBM855", true},  {857, "IBM857", true},  {869, "IBM869", true},
    {874, "CP874", true},   {1251, "CP1251", true}, {1252, "CP1252", true}, {1253, "CP1253", true},
    {1254, "CP1254", true}, {1255, "CP1255", true}, {1256, "CP1256", true}, {1257, "CP1257", true},
    {1258, "CP1258", true}, {1, "SHIFT_JIS", true}, {932, "CP932", false},  {936, "CP936", false},
    {949, "CP949", false},  {950, "CP950", false},
};

// Receipt words from the pages' scripts, with characters many pages lack.
const std::vector<std::string> kSamples = {
    "caf\xc3\xa9",  // café
    "Gr\xc3\xbc\xc3\x9f"
    "e",                                                               // Grüße
    "\xc3\x98rsted",                                                   // Ørsted
    "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",                // Привет
    "\xe2\x82\xac 5,00 \xc2\xa3 \xc2\xa5",                             // € £ ¥
    "\xce\xb1\xce\xb2\xce\xb3 \xd7\xa9\xd7\x9c \xd8\xb3\xd9\x84",      // Greek, Hebrew, Arabic
    "\xe0\xb8\xaa\xe0\xb8\xa7\xe0\xb8\xb1\xe0\xb8\xaa",                // Thai
    "\xe6\x97\xa5\xe6\x9c\xac \xe4\xb8\xad\xe6\x96\x87 \xed\x95\x9c",  // CJK, Hangul
    "\xef\xbd\xb1\xef\xbd\xb2 \xc4\x9f\xc5\x9f \xc5\x82\xc4\x85",      // ｱｲ ğş łą
    "\xf0\x9f\x98\x80 emoji",                                          // outside every page
    "\x1b|bC\x1b|cA\xc3\xa9l\xc3\xa8ve\x1b|N\n",                       // escapes around text
};

TEST(CodePageTest, TextMatchesEachPagesOwnTable) {
  for (const Page& page : kPages) {
    SCOPED_TRACE(page.characterSet);
    ASSERT_TRUE(Iconv(page.iconv, "UTF-8", "A").has_value()) << "iconv lacks " << page.iconv;
    // Every character of a single-byte page comes back as its byte.
    if (page.singleByte) {
      int checked = 0;
      for (int b = 0x80; b <= 0xFF; ++b) {
        const auto ch = Iconv("UTF-8", page.iconv, std::string(1, static_cast<char>(b)));
        if (!ch) continue;
        const std::string want = Iconv(page.iconv, "UTF-8", *ch).value();
        EXPECT_EQ(Hex(Convert(page.characterSet, *ch)), Hex(want)) << "byte " << b;
        ++checked;
      }
      EXPECT_GE(checked, 63);  // the katakana page: 0xA1..0xDF
    }
    for (const std::string& text : kSamples) {
      EXPECT_EQ(Hex(Convert(page.characterSet, text)), Hex(Expected(page.iconv, page.singleByte, text)))
          << text;
    }
  }
}

TEST(CodePageTest, OnlyValidUtf8TextIsConverted) {
  struct Case {
    const char* what;
    int32_t characterSet;
    std::string in, out;
  };
  const Case cases[] = {
      {"plain ASCII", 850, "Total 12.50\r\n", "Total 12.50\r\n"},
      {"code-page bytes stay", 850,
       "caf\x82 Gr\x81\xe1"
       "e",
       "caf\x82 Gr\x81\xe1"
       "e"},
      {"Latin-1 bytes stay", 1252, "caf\xe9", "caf\xe9"},
      {"truncated sequence", 437, "caf\xc3", "caf\xc3"},
      {"valid text beside a stray byte stays whole", 437, "caf\xc3\xa9\xff", "caf\xc3\xa9\xff"},
      {"overlong slash", 437, "\xc0\xaf", "\xc0\xaf"},
      {"surrogate", 437, "\xed\xa0\x80", "\xed\xa0\x80"},
      {"above U+10FFFF", 437, "\xf4\x90\x80\x80", "\xf4\x90\x80\x80"},
      {"zero byte inside", 437, std::string("a\0\xc3\xa9", 4), std::string("a\0\x82", 3)},
      {"Thai table has no mapping", 23, "caf\xc3\xa9", "caf\xc3\xa9"},
      {"unknown set prints table 0", 12345, "caf\xc3\xa9", "caf\x82"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(Convert(c.characterSet, c.in)), Hex(c.out)) << c.what;
  }
}

TEST(CodePageTest, PrintPathsConvertTextButNotBinaryData) {
  PrintProperties props;
  props.CodeTable = PrinterProperties::CodeTableFor(850);
  TranslationState state;
  PreparedPrint p = PreparePrintNormal(kSerialTranslation, props, state, "\x1b|bCcaf\xc3\xa9\x1b|1lF");
  ASSERT_EQ(p.result, OPOS_SUCCESS);
  EXPECT_EQ(Hex(p.bytes.substr(18)), Hex(B({0x1B, 0x45, 0x31, 'c', 'a', 'f', 0x82, 0x0A})));

  std::string out;
  props.BinaryConversion = OPOS_BC_NIBBLE;
  ASSERT_EQ(PrintArgumentBytes(props, "<3:9", out), OPOS_SUCCESS);
  EXPECT_EQ(Hex(out), Hex("\xc3\xa9"));
  props.BinaryConversion = OPOS_BC_DECIMAL;
  ASSERT_EQ(PrintArgumentBytes(props, "195169", out), OPOS_SUCCESS);
  EXPECT_EQ(Hex(out), Hex("\xc3\xa9"));
  props.BinaryConversion = OPOS_BC_NONE;

  // Alphanumeric barcodes carry text; numeric ones keep their bytes (and so
  // their length rules).
  BarCodeRequest request;
  request.data = "CAF\xc3\x89";
  request.symbology = PTR_BCS_Code128;
  request.height = 50;
  request.width = 200;
  request.alignment = PTR_BC_CENTER;
  request.textPosition = PTR_BC_TEXT_BELOW;
  const BarCodeCommand code128 = BuildBarCodeCommand(kSerialBarcode, props, request);
  ASSERT_EQ(code128.result, OPOS_SUCCESS);
  EXPECT_NE(code128.bytes.find("{ACAF\x90"), std::string::npos) << Hex(code128.bytes);
  request.data = "40123455\xc3\xa9";  // 10 bytes: not a JAN8 length, converted or not
  request.symbology = PTR_BCS_JAN8;
  EXPECT_EQ(BuildBarCodeCommand(kSerialBarcode, props, request).result, OPOS_E_ILLEGAL);
}

}  // namespace
}  // namespace opos
