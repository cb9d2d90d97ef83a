// The pieces of `opos run` below the process: integer and string literals, JSON
// text, line parsing and the whole-script check.
#include <gtest/gtest.h>

#include "tools/opos/script.h"
#include "tools/opos/text_escapes.h"

namespace opos::tool {
namespace {

using control::DeviceClass;

TEST(Literals, IntegersInEveryWrittenForm) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"1000", true, 1000},
      {"-1", true, -1},
      {"+7", true, 7},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"0x1b", true, 27},
      {"0X1B", true, 27},
      {"0xFFFFFFFF", true, -1},
      {"0x80000000", true, INT32_MIN},
      {"-0x10", true, -16},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"0x100000000", false, 0},
      {"99999999999999999999", false, 0},
      {"12a", false, 0},
      {"0x", false, 0},
      {"-", false, 0},
      {"", false, 0},
      {"1.5", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t v = 12345;
    EXPECT_EQ(ParseInt32(c.text, &v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(Literals, EscapesGiveExactBytes) {
  std::string out, error;
  ASSERT_TRUE(DecodeEscapes(R"(\x1b|cA\n\r\t\\\"\0\x4G\xff)", &out, &error)) << error;
  EXPECT_EQ(out, std::string("\x1b|cA\n\r\t\\\"\0\x04G\xff", 13));
  for (const char* bad : {R"(\q)", R"(abc\)", R"(\xZZ)", R"(\x)"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DecodeEscapes(bad, &out, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(Literals, JsonStringsEscapeEveryByteOutsidePrintableAscii) {
  EXPECT_EQ(JsonString("plain text"), "\"plain text\"");
  EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(JsonString(std::string("\x1b\n\0\x7f\x80\xff", 6)), R"("\u001b\u000a\u0000\u007f\u0080\u00ff")");
  EXPECT_EQ(JsonString(""), "\"\"");
}

Command Parse(const std::string& line) {
  std::optional<Command> c;
  std::string error;
  EXPECT_TRUE(ParseLine(line, 1, &c, &error)) << error;
  EXPECT_TRUE(c.has_value());
  return c.value_or(Command{});
}

std::string ParseError(const std::string& line) {
  std::optional<Command> c;
  std::string error;
  EXPECT_FALSE(ParseLine(line, 1, &c, &error)) << line;
  return error;
}

TEST(ScriptLines, CallsAndCommands) {
  Command c = Parse("  PrintNormal 2 \"#not a comment\\n\"  # a comment");
  EXPECT_EQ(c.kind, Command::kCall);
  EXPECT_EQ(c.member, "PrintNormal");
  ASSERT_EQ(c.args.size(), 2u);
  EXPECT_FALSE(c.args[0].isString);
  EXPECT_EQ(c.args[0].number, 2);
  EXPECT_TRUE(c.args[1].isString);
  EXPECT_EQ(c.args[1].text, "#not a comment\n");

  c = Parse("DirectIO 0x10 -3 \"\"");
  ASSERT_EQ(c.args.size(), 3u);
  EXPECT_EQ(c.args[1].number, -3);
  EXPECT_TRUE(c.args[2].isString);
  EXPECT_EQ(c.args[2].text, "");

  EXPECT_EQ(Parse("Pump 500").kind, Command::kPump);
  EXPECT_EQ(Parse("sleep 0").kind, Command::kSleep);
  c = Parse("Answer 12");
  EXPECT_EQ(c.kind, Command::kAnswer);
  EXPECT_EQ(c.number, 12);
  c = Parse("Open CashDrawer \"Till drawer\"");
  EXPECT_EQ(c.kind, Command::kOpen);
  EXPECT_EQ(c.deviceClass, DeviceClass::CashDrawer);
  EXPECT_EQ(c.device, "Till drawer");
  c = Parse("Select Receipt");
  EXPECT_EQ(c.kind, Command::kSelect);
  EXPECT_FALSE(c.hasClass);

  for (const char* empty : {"", "   ", "# only a comment", "\t"}) {
    std::optional<Command> none;
    std::string error;
    EXPECT_TRUE(ParseLine(empty, 1, &none, &error));
    EXPECT_FALSE(none.has_value()) << empty;
  }
}

TEST(ScriptLines, FaultsAreNamed) {
  EXPECT_NE(ParseError("PrintNormal 2 \"open").find("closing quote"), std::string::npos);
  EXPECT_NE(ParseError("PrintNormal 2 \"a\"b").find("after the closing quote"), std::string::npos);
  EXPECT_NE(ParseError("PrintNormal 2 ab\"c\"").find("quote"), std::string::npos);
  EXPECT_NE(ParseError("PrintNormal two \"x\"").find("neither"), std::string::npos);
  EXPECT_NE(ParseError("ClaimDevice 99999999999").find("neither"), std::string::npos);
  EXPECT_NE(ParseError("PrintNormal 2 \"\\q\"").find("unknown escape"), std::string::npos);
  EXPECT_NE(ParseError("\"PrintNormal\" 2").find("starts with"), std::string::npos);
  EXPECT_NE(ParseError("Pump -1").find("0 or more"), std::string::npos);
  EXPECT_NE(ParseError("Pump").find("one number"), std::string::npos);
  EXPECT_NE(ParseError("Sleep 1 2").find("one number"), std::string::npos);
  EXPECT_NE(ParseError("Answer x").find("integer"), std::string::npos);
  EXPECT_NE(ParseError("Open Scanner S1").find("unknown device class"), std::string::npos);
  EXPECT_NE(ParseError("Open CashDrawer").find("Open takes"), std::string::npos);
  EXPECT_NE(ParseError("Select").find("Select takes"), std::string::npos);
  EXPECT_NE(ParseError("Open CashDrawer \"\"").find("empty device name"), std::string::npos);
}

std::string ScriptError(const std::string& text, DeviceClass first = DeviceClass::POSPrinter) {
  std::vector<Command> commands;
  std::string error;
  EXPECT_FALSE(ParseScript(text, first, "P", &commands, &error)) << text;
  return error;
}

TEST(Scripts, CheckedAgainstTheCurrentDevicesMembers) {
  std::vector<Command> commands;
  std::string error;
  const std::string good =
      "claimdevice 1000\r\n"
      "\n"
      "Open CashDrawer D\n"
      "OpenDrawer\n"
      "Select P\n"
      "PrintNormal 2 \"x\"\n"
      "Select CashDrawer D\n"
      "WaitForDrawerClose 1 2 3 4";
  ASSERT_TRUE(ParseScript(good, DeviceClass::POSPrinter, "P", &commands, &error)) << error;
  ASSERT_EQ(commands.size(), 7u);
  EXPECT_EQ(commands[0].member, "ClaimDevice");  // the table's spelling
  EXPECT_EQ(commands[0].line, 1);
  EXPECT_EQ(commands[1].line, 3);
  EXPECT_EQ(commands[3].deviceClass, DeviceClass::POSPrinter);
  EXPECT_EQ(commands[6].line, 8);

  EXPECT_EQ(ScriptError("ClaimDevice 1000\nOpenDrawer"), "line 2: POSPrinter has no member OpenDrawer");
  EXPECT_EQ(ScriptError("Open CashDrawer D\nPrintNormal 2 \"x\""),
            "line 2: CashDrawer has no member PrintNormal");
  EXPECT_EQ(ScriptError("\n\nPrintNormal 2"), "line 3: PrintNormal takes 2 arguments, 1 given");
  EXPECT_EQ(ScriptError("ClearOutput 1"), "line 1: ClearOutput takes 0 arguments, 1 given");
  EXPECT_EQ(ScriptError("PrintNormal \"2\" \"x\""), "line 1: argument 1 of PrintNormal must be an integer");
  EXPECT_EQ(ScriptError("DirectIO 1 2 3"), "line 1: argument 3 of DirectIO must be a \"string\"");
  EXPECT_NE(ScriptError("OpenService \"a\" \"b\" 0").find("Open CLASS NAME"), std::string::npos);
  EXPECT_NE(ScriptError("Select Q").find("line 1: no device"), std::string::npos);
  // Both classes under one name need the class to tell them apart.
  EXPECT_NE(ScriptError("Open CashDrawer P\nSelect P").find("line 2: both"), std::string::npos);
  // A fault late in the script is found before anything runs.
  EXPECT_EQ(ScriptError("ClaimDevice 1000\nPump 10\nReleaseDevice\nNoSuchThing").substr(0, 7), "line 4:");
}

}  // namespace
}  // namespace opos::tool
