// .reg text import and export: the fixture written in regedit's own format, the
// encodings regedit writes, round trips, and errors that name the line.
#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;
constexpr Root CR = Root::ClassesRoot;
const std::string kPrinter = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";

std::string Fixture(const std::string& name) {
  return ReadFile(std::string(OPOS_SOURCE_DIR) + "/tests/platform/data/" + name);
}

// Everything in both roots through the enumeration calls, independent of export.
void DumpKey(Store& s, Root root, const std::string& path, std::string* out) {
  *out += std::string(RootName(root)) + "\\" + path + "\n";
  std::vector<Value> values;
  ASSERT_EQ(s.ListValues(root, path, &values), kOk) << s.LastError();
  for (const Value& v : values) {
    *out += "  [" + v.name + "] type " + std::to_string(v.type) + ":";
    for (uint8_t b : v.data) *out += " " + std::to_string(b);
    *out += "\n";
  }
  std::vector<std::string> names;
  ASSERT_EQ(s.ListSubKeys(root, path, &names), kOk);
  for (const std::string& n : names) DumpKey(s, root, path.empty() ? n : path + "\\" + n, out);
}

std::string Dump(Store& s) {
  std::string out;
  DumpKey(s, LM, "", &out);
  DumpKey(s, CR, "", &out);
  return out;
}

Value Query(Store& s, Root root, const std::string& path, const std::string& name) {
  Value v;
  EXPECT_EQ(s.QueryValue(root, path, name, &v), kOk) << path << " " << name << ": " << s.LastError();
  return v;
}

using RegImport = StoreTest;

TEST_F(RegImport, DeviceFixtureReadsAsTheServiceObjectsExpect) {
  ASSERT_EQ(store_->Import(Fixture("opos_device.reg")), kOk) << store_->LastError();
  const std::string dev = kPrinter + "\\QMT500S";
  EXPECT_EQ(Query(*store_, LM, kPrinter, "ReceiptPrinter").data, SzData("QMT500S"));
  EXPECT_EQ(Query(*store_, LM, dev, "").data, SzData("KELVORA.RecPrinter.SO"));
  Value baud = Query(*store_, LM, dev, "baudrate");
  EXPECT_EQ(baud.type, REG_DWORD);
  EXPECT_EQ(baud.data, DwordData(6));
  EXPECT_EQ(Query(*store_, LM, dev, "Timeout").data, DwordData(1000));
  EXPECT_EQ(SzText(Query(*store_, LM, dev, "Description").data),
            "KELVORA POS Printer OPOS Service Object, \"Serial\" C:\\OPOS");
  Value logo = Query(*store_, LM, dev, "Logo");
  EXPECT_EQ(logo.type, REG_BINARY);
  ASSERT_EQ(logo.data.size(), 38u);  // continued over two lines
  EXPECT_EQ(logo.data[22], 0x01);
  // Version 5 files hold string types as UTF-16LE; the store keeps 8-bit text.
  EXPECT_EQ(Query(*store_, LM, dev, "Path").data, SzData("%PROGRAMFILES%\\OPOS"));
  EXPECT_EQ(Query(*store_, LM, dev, "Models").data, Bytes({'Q', 'M', 'T', '5', '0', '0', 0, 'Z', '9', 0, 0}));
  Value flags = Query(*store_, LM, dev, "Flags");
  EXPECT_EQ(flags.type, REG_DWORD);
  EXPECT_EQ(flags.data, Bytes({1, 0}));
  EXPECT_EQ(Query(*store_, LM, dev, "Nothing").type, REG_NONE);
  std::vector<Value> values;  // in the file's order
  ASSERT_EQ(store_->ListValues(LM, dev, &values), kOk);
  ASSERT_EQ(values.size(), 31u);
  EXPECT_EQ(values[1].name, "ZADConfig");
  EXPECT_EQ(
      Query(*store_, LM, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\StandardCashS", "ConnectorPinNo")
          .data,
      DwordData(2));
  EXPECT_EQ(Query(*store_, CR, "KELVORA.RecPrinter.SO\\CLSID", "").data,
            SzData("{6E1F3A52-7C1B-4D0E-9A51-2B7D8C4E1F01}"));
}

TEST_F(RegImport, Utf16FileFromRegeditGivesTheSameStore) {
  ASSERT_EQ(store_->Import(Fixture("opos_device.reg")), kOk) << store_->LastError();
  TempDir other;
  auto utf16 = Store::Open(other.File("r.db"), nullptr);
  ASSERT_NE(utf16, nullptr);
  ASSERT_EQ(utf16->Import(Fixture("opos_device_utf16.reg")), kOk) << utf16->LastError();
  EXPECT_EQ(Dump(*utf16), Dump(*store_));
}

TEST_F(RegImport, EncodingsLineEndsAndLayoutVariants) {
  // REGEDIT4: LF only, 8-bit text, string hex types as bytes; comments, blank lines,
  // spaces around '=' and after ']'.
  const std::string v4 =
      "\n"
      "REGEDIT4\n"
      "; comment\n"
      "  [HKEY_LOCAL_MACHINE\\A]   \n"
      "\n"
      "  \"Name\" = \"caf\xE9\"\n"
      "\"Exp\"=hex(2):41,42,00\n"
      "@=DWORD:1F\n"
      "\"Bin\"=hex:01,\\\n"
      "\n";
  EXPECT_EQ(store_->Import(v4), kInvalidParameter)
      << "a continuation must be followed by more bytes, not a blank line";
  EXPECT_NE(store_->LastError().find("line 9"), std::string::npos) << store_->LastError();
  std::string fixed = v4;
  fixed.replace(fixed.rfind("\n\n"), 2, "\n  02\n");
  ASSERT_EQ(store_->Import(fixed), kOk) << store_->LastError();
  EXPECT_EQ(Query(*store_, LM, "A", "name").data, SzData("caf\xE9"));
  EXPECT_EQ(Query(*store_, LM, "A", "Exp").data, Bytes({'A', 'B', 0}));
  EXPECT_EQ(Query(*store_, LM, "A", "").data, DwordData(0x1f));
  EXPECT_EQ(Query(*store_, LM, "A", "Bin").data, Bytes({1, 2}));

  // A UTF-8 file with a byte-order mark: characters up to U+00FF become one byte.
  ASSERT_EQ(store_->Import("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_CLASSES_ROOT\\B]\r\n\"N\"=\"caf\xC3\xA9\"\r\n"),
            kOk)
      << store_->LastError();
  EXPECT_EQ(Query(*store_, CR, "B", "N").data, SzData("caf\xE9"));
}

TEST_F(RegImport, DeleteForms) {
  ASSERT_EQ(store_->Import(Fixture("opos_device.reg")), kOk);
  const std::string dev = kPrinter + "\\QMT500S";
  ASSERT_EQ(store_->Import("REGEDIT4\n"
                           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer]\n"
                           "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Never\\There]\n"
                           "[HKEY_LOCAL_MACHINE\\" +
                           dev +
                           "]\n"
                           "\"PORT\"=-\n"
                           "@=-\n"
                           "\"NoSuchValue\"=-\n"),
            kOk)
      << store_->LastError();
  EXPECT_EQ(store_->KeyExists(LM, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer"), kFileNotFound);
  EXPECT_EQ(store_->KeyExists(LM, "SOFTWARE\\Never"), kFileNotFound);
  EXPECT_EQ(store_->QueryValue(LM, dev, "Port", nullptr), kFileNotFound);
  EXPECT_EQ(store_->QueryValue(LM, dev, "", nullptr), kFileNotFound);
  EXPECT_EQ(store_->QueryValue(LM, dev, "Baudrate", nullptr), kOk);
}

struct BadCase {
  const char* text;
  int line;
  const char* cause;
};

TEST_F(RegImport, ErrorsNameTheLineAndWriteNothing) {
  ASSERT_EQ(store_->Import(Fixture("opos_device.reg")), kOk);
  const std::string before = Dump(*store_);
  const BadCase cases[] = {
      {"REGEDIT5\n[HKEY_LOCAL_MACHINE\\X]\n", 1, "not a registry file"},
      {"", 1, "not a registry file"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"C:\\path\"\n", 3, "unknown escape"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"open\n", 3, "closing quote"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:123456789\n", 3, "1 to 8 hex digits"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:01,zz\n", 3, "hex byte"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:01 02\n", 3, "comma"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:01,\\\n", 3, "continued line"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=str\n", 3, "unrecognised value data"},
      {"REGEDIT4\n\"a\"=\"x\"\n", 2, "before the first [key]"},
      {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"x\"\n", 3, "deletes its key"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n", 2, "unknown root key \"HKEY_CURRENT_USER\""},
      {"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", 2, "root key cannot be deleted"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\]\n", 2, "empty key name"},
      // Found while applying, inside the transaction: the earlier lines roll back.
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\New]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 4,
       "invalid key path"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex(2):41,00,42\n", 3,
       "even number of bytes"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex(1):41,01,00,00\n", 3,
       "U+0141"},
      {"\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"\xC5\x81\"\n", 3, "U+0141"},
      {"\xEF\xBB\xBFREGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"\xC1\xA1\"\n", 3, "invalid UTF-8"},
  };
  for (const BadCase& c : cases) {
    EXPECT_EQ(store_->Import(c.text), kInvalidParameter) << c.text;
    const std::string err = store_->LastError();
    EXPECT_EQ(err.rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << c.text << " -> " << err;
    EXPECT_NE(err.find(c.cause), std::string::npos) << c.text << " -> " << err;
  }
  // A key name over the Windows limit is refused with its line too.
  const std::string longName =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + std::string(kMaxKeyNameLen + 1, 'k') + "]\n";
  EXPECT_EQ(store_->Import(longName), kInvalidParameter);
  EXPECT_EQ(store_->LastError().rfind("line 3: ", 0), 0u) << store_->LastError();

  // UTF-16 text: a character above U+00FF is named with its line; odd length refused.
  std::string wide = "\xFF\xFE";
  for (char c : std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"")) {
    wide += c;
    wide += '\0';
  }
  EXPECT_EQ(store_->Import(wide + std::string("\x41\x01\"\0\r\0\n\0", 8)), kInvalidParameter);
  EXPECT_EQ(store_->LastError().rfind("line 3: character U+0141", 0), 0u) << store_->LastError();
  EXPECT_EQ(store_->Import(wide + "x"), kInvalidParameter);
  EXPECT_NE(store_->LastError().find("odd number of bytes"), std::string::npos);
  EXPECT_EQ(store_->Import("\xFE\xFF"), kInvalidParameter);
  EXPECT_NE(store_->LastError().find("big-endian"), std::string::npos);

  EXPECT_EQ(Dump(*store_), before);
}

using RegExport = StoreTest;

TEST_F(RegExport, WritesRegeditFormat) {
  ASSERT_EQ(store_->CreateKey(LM, "SOFTWARE\\Empty"), kOk);
  ASSERT_EQ(store_->CreateKey(LM, "SOFTWARE\\Dev"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Port", REG_SZ, SzData("C:\\a \"b\"")}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"", REG_SZ, SzData("prog")}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Baud", REG_DWORD, DwordData(0xABCDEF01)}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Bin", REG_BINARY, Bytes({0, 0x1f, 0xff})}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Exp", REG_EXPAND_SZ, SzData("%A%")}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Half", REG_DWORD, Bytes({1, 2})}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"NoZero", REG_SZ, Bytes({'a'})}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE\\Dev", {"Q", 0xbu, {}}), kOk);
  ASSERT_EQ(store_->CreateKey(CR, "Prog"), kOk);
  std::string text;
  ASSERT_EQ(store_->ExportAll(&text), kOk) << store_->LastError();
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dev]\n"
            "\"Port\"=\"C:\\\\a \\\"b\\\"\"\n"
            "@=\"prog\"\n"
            "\"Baud\"=dword:abcdef01\n"
            "\"Bin\"=hex:00,1f,ff\n"
            "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\n"
            "\"Half\"=hex(4):01,02\n"
            "\"NoZero\"=hex(1):61,00\n"
            "\"Q\"=hex(b):\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\n"
            "\n"
            "[HKEY_CLASSES_ROOT\\Prog]\n"
            "\n");

  ASSERT_EQ(store_->ExportKey(LM, "software\\dev", &text), kOk);
  EXPECT_EQ(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE]"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dev]\n"), std::string::npos);
  EXPECT_EQ(text.find("Empty"), std::string::npos);
  EXPECT_EQ(store_->ExportKey(LM, "SOFTWARE\\None", &text), kFileNotFound);
}

TEST_F(RegExport, RoundTripKeepsEveryKeyValueTypeAndByte) {
  ASSERT_EQ(store_->Import(Fixture("opos_device.reg")), kOk);
  const std::string odd = "SOFTWARE\\odd ]name [x] \"q\" \xE9\\-lead\\ spaces ";
  ASSERT_EQ(store_->CreateKey(LM, odd), kOk);
  ASSERT_EQ(store_->CreateKey(CR, "Empty\\Deep\\Deeper"), kOk);
  const std::vector<Value> values = {
      {"back\\slash \"quoted\" =", REG_SZ, SzData("a\\b\"c")},
      {"@", REG_SZ, SzData("not the default")},
      {"", REG_BINARY, {}},
      {"nul inside", REG_SZ, Bytes({'a', 0, 'b', 0})},
      {"line break", REG_SZ, SzData("one\r\ntwo")},
      {"two zeros", REG_SZ, Bytes({'x', 0, 0})},
      {"empty sz", REG_SZ, {}},
      {"only zero", REG_SZ, Bytes({0})},
      {"high", REG_SZ, SzData("\x80\xFF\xE9")},
      {"odd exp", REG_EXPAND_SZ, Bytes({'a'})},
      {"dword5", REG_DWORD, Bytes({1, 2, 3, 4, 5})},
      {"dword0", REG_DWORD, {}},
      {"big type", 0xFFFFFFFFu, Bytes({7})},
      {"long bin", REG_BINARY, std::vector<uint8_t>(1000, 0xAB)},
      {std::string(300, 'n'), REG_MULTI_SZ, std::vector<uint8_t>(100, 'm')},
  };
  for (const Value& v : values) ASSERT_EQ(store_->SetValue(LM, odd, v), kOk);
  ASSERT_EQ(store_->SetValue(LM, "", {"at root", REG_DWORD, DwordData(5)}), kOk);

  std::string text;
  ASSERT_EQ(store_->ExportAll(&text), kOk) << store_->LastError();
  TempDir other;
  auto copy = Store::Open(other.File("r.db"), nullptr);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Import(text), kOk) << copy->LastError();
  EXPECT_EQ(Dump(*copy), Dump(*store_));
  std::string again;
  ASSERT_EQ(copy->ExportAll(&again), kOk);
  EXPECT_EQ(again, text);
  // Long data is wrapped as regedit does: at most 80 columns, "\\" to continue.
  std::istringstream in(text);
  int continued = 0;
  for (std::string line; std::getline(in, line);) {
    const bool longName = line.rfind("\"nnn", 0) == 0;  // wider by its name alone
    EXPECT_TRUE(longName || line.size() <= 80u) << line;
    continued += !line.empty() && line.back() == '\\';
  }
  EXPECT_GT(continued, 20);
}

TEST_F(RegExport, NamesWithLineBreaksCannotBeWritten) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", {"a\nb", REG_SZ, SzData("x")}), kOk);
  std::string text = "untouched";
  EXPECT_EQ(store_->ExportAll(&text), kInvalidParameter);
  EXPECT_NE(store_->LastError().find("line break"), std::string::npos) << store_->LastError();
  EXPECT_EQ(text, "untouched");
  ASSERT_EQ(store_->CreateKey(LM, "L\r"), kOk);
  EXPECT_EQ(store_->ExportKey(LM, "L\r", &text), kInvalidParameter);
}

}  // namespace
}  // namespace opos::reg::testing
