// Reading model definition files: the profile reader's rules, the value
// clean-up and the numeric rule, and the offer lists of coded choices.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "setup/ini_file.h"
#include "setup/mod_setup.h"
#include "setup/model_catalog.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using namespace modSetup;
using testing::TempDir;
using testing::WriteFile;

IniFile MustParse(const std::string& text) {
  return IniFile::Parse(text);
}

TEST(IniFile, LooksUpSectionsAndKeysWithoutRegardToCaseFirstMatchWins) {
  IniFile f = MustParse(
      "\xEF\xBB\xBF; model file\r\n"
      "[SINFO]\r\n"
      "  DeviceName = QMT500S  \r\n"
      "devicename=Second\r\n"
      "[sinfo]\n"
      "Port=COM2\n"
      "[UINFO]\n"
      "Quoted=\"a; b\"\n"
      "Single='x'\n"
      "Half=\"open\n"
      "Empty=\n");
  std::string v;
  ASSERT_TRUE(f.Get("sinfo", "DEVICENAME", &v));
  EXPECT_EQ(v, "QMT500S");
  // A repeated section is not merged: the first one answers.
  EXPECT_FALSE(f.Get("SINFO", "Port", &v));
  ASSERT_TRUE(f.Get("UINFO", "Quoted", &v));
  EXPECT_EQ(v, "a; b");
  ASSERT_TRUE(f.Get("UINFO", "Single", &v));
  EXPECT_EQ(v, "x");
  ASSERT_TRUE(f.Get("UINFO", "Half", &v));
  EXPECT_EQ(v, "\"open");
  ASSERT_TRUE(f.Get("UINFO", "Empty", &v));
  EXPECT_EQ(v, "");
  EXPECT_FALSE(f.Get("PINFO", "DeviceName", &v));
  EXPECT_FALSE(f.HasSection("PINFO"));
}

TEST(IniFile, SkipsJunkLinesAndCutsLongValuesAsTheProfileReaderDoes) {
  using namespace std::string_literals;
  const IniFile f = MustParse(
      "A=before any section\n[SINFO]\nDeviceName QMT500S\n=no key\n[PINFO\n"
      "Port=COM2\nNul=ab\0cd\nLong="s +
      std::string(300, 'x') + "\nAt255=" + std::string(255, 'y') + "\n");
  std::string v;
  EXPECT_FALSE(f.Get("SINFO", "A", &v));
  EXPECT_FALSE(f.Get("SINFO", "DeviceName", &v));
  EXPECT_FALSE(f.HasSection("PINFO"));
  ASSERT_TRUE(f.Get("SINFO", "Port", &v));  // the broken header was skipped, not opened
  EXPECT_EQ(v, "COM2");
  ASSERT_TRUE(f.Get("SINFO", "Nul", &v));
  EXPECT_EQ(v, "ab");
  ASSERT_TRUE(f.Get("SINFO", "Long", &v));
  EXPECT_EQ(v, std::string(255, 'x'));
  ASSERT_TRUE(f.Get("SINFO", "At255", &v));
  EXPECT_EQ(v, std::string(255, 'y'));
}

TEST(IniFile, MissingFileIsAnErrorAndReadsAsEmpty) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(IniFile::Load(dir.File("none.inf"), &error).has_value());
  EXPECT_NE(error.find("none.inf"), std::string::npos);
  EXPECT_EQ(ReadIniValue(dir.File("none.inf"), "SINFO", "DeviceName"), "");
  EXPECT_EQ(ReadCountNumber(dir.File("none.inf")), 0);
  // A FIFO named like a model file is refused at once, not waited on.
  ASSERT_EQ(::mkfifo(dir.File("KLP_FIFO.inf").c_str(), 0600), 0);
  EXPECT_FALSE(IniFile::Load(dir.File("KLP_FIFO.inf"), &error).has_value());
  EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  std::vector<std::string> problems;
  EXPECT_TRUE(ListBaseModels(dir.Path(), "POSPrinter", &problems).empty());
  EXPECT_EQ(problems.size(), 1u);
}

TEST(ReadIniValue, AppliesCommentTabQuoteAndTrimRules) {
  TempDir dir;
  const std::string path = dir.File("m.inf");
  WriteFile(path,
            "[SINFO]\n"
            "Baudrate=9600 ; the usual speed\n"
            "Tabbed=a\tb\n"
            "Quoted=\"QMT500S\"\n"
            "QuotedComment=\"9600\" ; c\n"
            "OnlyComment=;nothing\n"
            "[MaxNumber]\n"
            "CountNumber= 2 ; variants\n");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "Baudrate"), "9600");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "Tabbed"), "a b");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "Quoted"), "QMT500S");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "QuotedComment"), "9600");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "OnlyComment"), "");
  EXPECT_EQ(ReadIniValue(path, "SINFO", "Missing"), "");
  EXPECT_EQ(ReadIniValue(path, "NoSection", "Baudrate"), "");
  EXPECT_EQ(ReadCountNumber(path), 2);
  EXPECT_EQ(ReadFileNumber(kBaudrate, path, Section::Serial), 9600);
  // A setting that the section does not hold reads as empty.
  EXPECT_EQ(ReadFileText(kVid, path, Section::Serial), "");
}

TEST(ParseIniNumber, RoundsHalvesToEvenAndTakesTheLeadingNumberOnly) {
  EXPECT_EQ(ParseIniNumber("6.5"), 6);
  EXPECT_EQ(ParseIniNumber("7.5"), 8);
  EXPECT_EQ(ParseIniNumber("0.5"), 0);
  EXPECT_EQ(ParseIniNumber("6.50001"), 7);
  EXPECT_EQ(ParseIniNumber("6.49"), 6);
  EXPECT_EQ(ParseIniNumber("-2.5"), -2);
  EXPECT_EQ(ParseIniNumber("-3.5"), -4);
  EXPECT_EQ(ParseIniNumber("+12"), 12);
  EXPECT_EQ(ParseIniNumber(".75"), 1);
  EXPECT_EQ(ParseIniNumber("1024bytes"), 1024);
  EXPECT_EQ(ParseIniNumber("abc"), 0);
  EXPECT_EQ(ParseIniNumber("x12"), 0);
  EXPECT_EQ(ParseIniNumber(""), 0);
  EXPECT_EQ(ParseIniNumber("-"), 0);
  EXPECT_EQ(ParseIniNumber("000000000000042"), 42);
  EXPECT_EQ(ParseIniNumber("2147483647"), INT32_MAX);
  EXPECT_EQ(ParseIniNumber("-2147483648"), INT32_MIN);
  // Numbers that do not fit are reported, not wrapped.
  EXPECT_FALSE(ParseIniNumber("2147483648").has_value());
  EXPECT_FALSE(ParseIniNumber("2147483647.5").has_value());
  EXPECT_FALSE(ParseIniNumber("99999999999999999999").has_value());
  EXPECT_EQ(IniNumber("99999999999999999999"), 0);
}

TEST(OfferList, OffersKnownCodesInListOrderSkippingOthers) {
  auto texts = [](Choice c, const std::string& list) {
    std::vector<std::string> out;
    for (const CodeText& ct : OfferList(c, list)) out.push_back(ct.second);
    return out;
  };
  EXPECT_EQ(texts(Choice::Baudrate, "6,7,99,10"),
            (std::vector<std::string>{"9600 bps", "19200 bps", "115200 bps"}));
  EXPECT_EQ(texts(Choice::Baudrate, " 10 , 4,x,,6,6,-6,3"),
            (std::vector<std::string>{"115200 bps", "2400 bps", "9600 bps"}));
  EXPECT_EQ(texts(Choice::Parity, "2,0,1"), (std::vector<std::string>{"ODD", "NONE", "EVEN"}));
  EXPECT_EQ(texts(Choice::BitLength, "1,0"), (std::vector<std::string>{"8 bit", "7 bit"}));
  EXPECT_EQ(texts(Choice::Stop, "1,2"), (std::vector<std::string>{"1 bit"}));
  EXPECT_EQ(texts(Choice::HandShake, "0,2"), (std::vector<std::string>{"DTR/DSR"}));
  EXPECT_TRUE(texts(Choice::Baudrate, "").empty());
  // Reading a box back: a cleared or foreign text is code 0.
  EXPECT_EQ(ChoiceCode(Choice::Baudrate, "57600 bps"), 9);
  EXPECT_EQ(ChoiceCode(Choice::Baudrate, ""), 0);
  EXPECT_EQ(ChoiceCode(Choice::Parity, "odd"), 0);
}

}  // namespace
}  // namespace opos::setup
