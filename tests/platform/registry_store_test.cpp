// Keys, values, enumeration and the Win32 results the setup tool and the Service
// Objects rely on.
#include <chrono>

#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;
constexpr Root CR = Root::ClassesRoot;
const std::string kClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";

Value Sz(const std::string& name, const std::string& text) { return {name, REG_SZ, SzData(text)}; }
Value Dw(const std::string& name, uint32_t v) { return {name, REG_DWORD, DwordData(v)}; }

using RegistryKeys = StoreTest;

TEST_F(RegistryKeys, CreateMakesEveryMissingParent) {
  ASSERT_EQ(store_->CreateKey(LM, kClassKey + "\\QMT500S"), kOk) << store_->LastError();
  EXPECT_EQ(store_->KeyExists(LM, "SOFTWARE"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "SOFTWARE\\OLEforRetail\\ServiceOPOS"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, kClassKey + "\\QMT500S"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, kClassKey + "\\Other"), kFileNotFound);
  EXPECT_NE(store_->LastError().find("key not found"), std::string::npos);
  // The two roots are separate trees.
  EXPECT_EQ(store_->KeyExists(CR, "SOFTWARE"), kFileNotFound);
  // Creating an existing key succeeds and changes nothing.
  EXPECT_EQ(store_->CreateKey(LM, kClassKey), kOk);
  EXPECT_EQ(store_->LastError(), "");
  std::vector<std::string> names;
  ASSERT_EQ(store_->ListSubKeys(LM, kClassKey, &names), kOk);
  EXPECT_EQ(names, std::vector<std::string>{"QMT500S"});
}

TEST_F(RegistryKeys, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(store_->CreateKey(LM, "Software\\OLEforRetail"), kOk);
  ASSERT_EQ(store_->CreateKey(LM, "SOFTWARE\\oleforretail\\ServiceOPOS"), kOk);
  std::vector<std::string> names;
  ASSERT_EQ(store_->ListSubKeys(LM, "", &names), kOk);
  EXPECT_EQ(names, std::vector<std::string>{"Software"});
  ASSERT_EQ(store_->ListSubKeys(LM, "SOFTWARE", &names), kOk);
  EXPECT_EQ(names, std::vector<std::string>{"OLEforRetail"});

  ASSERT_EQ(store_->SetValue(LM, "software", Sz("Port", "COM1")), kOk);
  ASSERT_EQ(store_->SetValue(LM, "SOFTWARE", Sz("PORT", "COM2")), kOk);
  Value v;
  ASSERT_EQ(store_->QueryValue(LM, "Software", "port", &v), kOk);
  EXPECT_EQ(v.name, "Port");
  EXPECT_EQ(SzText(v.data), "COM2");
  // Only ASCII letters fold: bytes above 0x7F are compared as they are.
  ASSERT_EQ(store_->CreateKey(LM, "K\xE9y"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "k\xE9Y"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "K\xC9y"), kFileNotFound);
}

TEST_F(RegistryKeys, InvalidPathsAreRefused) {
  for (const std::string& bad : {std::string("\\A"), std::string("A\\"), std::string("A\\\\B"),
                                 std::string("\\"), std::string("A\0B", 3),
                                 std::string(kMaxKeyNameLen + 1, 'x')}) {
    EXPECT_EQ(store_->CreateKey(LM, bad), kInvalidParameter) << bad;
    EXPECT_NE(store_->LastError().find("invalid key path"), std::string::npos);
    EXPECT_EQ(store_->KeyExists(LM, bad), kInvalidParameter);
  }
  std::vector<std::string> names;
  ASSERT_EQ(store_->ListSubKeys(LM, "", &names), kOk);
  EXPECT_TRUE(names.empty());
  // Any other byte is allowed in a name, up to the Windows limit.
  EXPECT_EQ(store_->CreateKey(LM, "a b/c:d*e?\"f\x01\xff"), kOk);
  EXPECT_EQ(store_->CreateKey(LM, std::string(kMaxKeyNameLen, 'x')), kOk);
  EXPECT_EQ(store_->KeyExists(LM, ""), kOk);
}

TEST_F(RegistryKeys, DeleteKeyRefusesSubkeysAndDeleteTreeTakesAll) {
  ASSERT_EQ(store_->CreateKey(LM, "A\\B\\C"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "A\\B", Dw("x", 1)), kOk);
  ASSERT_EQ(store_->SetValue(LM, "A\\B\\C", Dw("y", 2)), kOk);
  ASSERT_EQ(store_->CreateKey(LM, "AB"), kOk);  // a sibling whose name has A\B's prefix

  EXPECT_EQ(store_->DeleteKey(LM, "A\\B"), kKeyHasChildren);
  EXPECT_NE(store_->LastError().find("subkeys"), std::string::npos);
  EXPECT_EQ(store_->KeyExists(LM, "A\\B\\C"), kOk);
  EXPECT_EQ(store_->DeleteKey(LM, "A\\B\\C"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "A\\B\\C"), kFileNotFound);
  EXPECT_EQ(store_->DeleteKey(LM, "A\\B\\C"), kFileNotFound);
  EXPECT_EQ(store_->DeleteKey(LM, ""), kInvalidParameter);

  ASSERT_EQ(store_->CreateKey(LM, "A\\B\\C\\D"), kOk);
  EXPECT_EQ(store_->DeleteTree(LM, "a"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "A"), kFileNotFound);
  EXPECT_EQ(store_->KeyExists(LM, "AB"), kOk);
  EXPECT_EQ(store_->DeleteTree(LM, "A"), kFileNotFound);
  // A new key of the same name starts empty: no value of the old tree survives.
  ASSERT_EQ(store_->CreateKey(LM, "A\\B"), kOk);
  KeyInfo info;
  ASSERT_EQ(store_->QueryInfoKey(LM, "A\\B", &info), kOk);
  EXPECT_EQ(info.values, 0u);
  EXPECT_EQ(info.subKeys, 0u);

  // On the root, DeleteTree empties it and leaves the other root alone.
  ASSERT_EQ(store_->SetValue(LM, "", Dw("rootvalue", 1)), kOk);
  ASSERT_EQ(store_->CreateKey(CR, "KELVORA.RecPrinter.SO"), kOk);
  EXPECT_EQ(store_->DeleteTree(LM, ""), kOk);
  ASSERT_EQ(store_->QueryInfoKey(LM, "", &info), kOk);
  EXPECT_EQ(info.subKeys, 0u);
  EXPECT_EQ(info.values, 0u);
  EXPECT_EQ(store_->KeyExists(CR, "KELVORA.RecPrinter.SO"), kOk);
}

using RegistryValues = StoreTest;

TEST_F(RegistryValues, AnyTypeAndLengthReadsBackExactly) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  const std::vector<Value> written = {
      Sz("", "KELVORA.RecPrinter.SO"),
      Dw("Baudrate", 6),
      {"Short", REG_DWORD, Bytes({1, 2})},
      {"Long", REG_DWORD, Bytes({1, 2, 3, 4, 5})},
      {"Empty", REG_SZ, {}},
      {"Bin", REG_BINARY, Bytes({0, 0xff, 0, 0x80})},
      {"None", REG_NONE, {}},
      {"Odd", 0x12345678u, Bytes({9})},
      {"Multi", REG_MULTI_SZ, Bytes({'a', 0, 'b', 0, 0})},
  };
  for (const Value& v : written) ASSERT_EQ(store_->SetValue(LM, "K", v), kOk) << v.name;
  Reopen();
  for (const Value& v : written) {
    Value r;
    ASSERT_EQ(store_->QueryValue(LM, "K", v.name, &r), kOk) << v.name;
    EXPECT_EQ(r.name, v.name);
    EXPECT_EQ(r.type, v.type) << v.name;
    EXPECT_EQ(r.data, v.data) << v.name;
  }
  EXPECT_EQ(store_->QueryValue(LM, "K", "Baudrate", nullptr), kOk);
  EXPECT_EQ(store_->QueryValue(LM, "K", "Absent", nullptr), kFileNotFound);
  EXPECT_NE(store_->LastError().find("Absent"), std::string::npos);
  EXPECT_EQ(store_->QueryValue(LM, "Missing", "Baudrate", nullptr), kFileNotFound);
}

TEST_F(RegistryValues, SetNeedsTheKeyAndAValidName) {
  EXPECT_EQ(store_->SetValue(LM, "Missing", Dw("x", 1)), kFileNotFound);
  EXPECT_EQ(store_->KeyExists(LM, "Missing"), kFileNotFound);
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  EXPECT_EQ(store_->SetValue(LM, "K", Dw(std::string("a\0b", 3), 1)), kInvalidParameter);
  EXPECT_EQ(store_->SetValue(LM, "K", Dw(std::string(kMaxValueNameLen + 1, 'v'), 1)), kInvalidParameter);
  // Value names, unlike key names, may hold a backslash.
  EXPECT_EQ(store_->SetValue(LM, "K", Dw("a\\b", 1)), kOk);
  EXPECT_EQ(store_->SetValue(LM, "K", Dw(std::string(kMaxValueNameLen, 'v'), 1)), kOk);
  KeyInfo info;
  ASSERT_EQ(store_->QueryInfoKey(LM, "K", &info), kOk);
  EXPECT_EQ(info.values, 2u);
}

TEST_F(RegistryValues, DeleteValue) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Dw("Stop", 1)), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Dw("Parity", 0)), kOk);
  EXPECT_EQ(store_->DeleteValue(LM, "K", "STOP"), kOk);
  EXPECT_EQ(store_->QueryValue(LM, "K", "Stop", nullptr), kFileNotFound);
  EXPECT_EQ(store_->DeleteValue(LM, "K", "Stop"), kFileNotFound);
  EXPECT_NE(store_->LastError().find("value not found"), std::string::npos);
  EXPECT_EQ(store_->DeleteValue(LM, "Missing", "Stop"), kFileNotFound);
  EXPECT_NE(store_->LastError().find("key not found"), std::string::npos);
  EXPECT_EQ(store_->QueryValue(LM, "K", "Parity", nullptr), kOk);
}

using RegistryEnumeration = StoreTest;

TEST_F(RegistryEnumeration, SubkeysInCaseFoldedOrder) {
  // Windows orders by upper-cased name, so "_" (0x5F) sorts after every letter.
  for (const char* k : {"b", "A_B", "QMT500S_2", "a", "AB", "C", "QMT500S"}) {
    ASSERT_EQ(store_->CreateKey(LM, std::string("P\\") + k), kOk);
  }
  const std::vector<std::string> expect = {"a", "AB", "A_B", "b", "C", "QMT500S", "QMT500S_2"};
  std::vector<std::string> names;
  ASSERT_EQ(store_->ListSubKeys(LM, "P", &names), kOk);
  EXPECT_EQ(names, expect);
  for (uint32_t i = 0; i < expect.size(); ++i) {
    std::string name;
    ASSERT_EQ(store_->EnumKey(LM, "P", i, &name), kOk);
    EXPECT_EQ(name, expect[i]);
  }
  std::string name;
  EXPECT_EQ(store_->EnumKey(LM, "P", static_cast<uint32_t>(expect.size()), &name), kNoMoreItems);
  EXPECT_EQ(store_->EnumKey(LM, "P\\a", 0, &name), kNoMoreItems);
  EXPECT_EQ(store_->EnumKey(LM, "Q", 0, &name), kFileNotFound);
}

TEST_F(RegistryEnumeration, ValuesInOrderFirstWritten) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  for (const char* n : {"Port", "Baudrate", "", "ZADConfig", "Stop"}) {
    ASSERT_EQ(store_->SetValue(LM, "K", Sz(n, "1")), kOk);
  }
  // Overwriting keeps the position (and the first spelling); a deleted and
  // re-added value goes to the end.
  ASSERT_EQ(store_->SetValue(LM, "K", Dw("BAUDRATE", 7)), kOk);
  ASSERT_EQ(store_->DeleteValue(LM, "K", "Port"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Sz("Port", "COM3")), kOk);

  const std::vector<std::string> expect = {"Baudrate", "", "ZADConfig", "Stop", "Port"};
  std::vector<Value> values;
  ASSERT_EQ(store_->ListValues(LM, "K", &values), kOk);
  ASSERT_EQ(values.size(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(values[i].name, expect[i]);
    Value v;
    ASSERT_EQ(store_->EnumValue(LM, "K", static_cast<uint32_t>(i), &v), kOk);
    EXPECT_EQ(v.name, values[i].name);
    EXPECT_EQ(v.type, values[i].type);
    EXPECT_EQ(v.data, values[i].data);
  }
  EXPECT_EQ(values[0].type, REG_DWORD);
  EXPECT_EQ(values[0].data, DwordData(7));
  Value v;
  EXPECT_EQ(store_->EnumValue(LM, "K", 5, &v), kNoMoreItems);
  Reopen();
  ASSERT_EQ(store_->ListValues(LM, "K", &values), kOk);
  ASSERT_EQ(values.size(), expect.size());
  EXPECT_EQ(values.back().name, "Port");
}

TEST_F(RegistryEnumeration, QueryInfoKeyCountsAndLongestLengths) {
  ASSERT_EQ(store_->CreateKey(LM, "K\\short"), kOk);
  ASSERT_EQ(store_->CreateKey(LM, "K\\a much longer name"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Sz("ab", "0123456789")), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", {"abcdef", REG_BINARY, Bytes({1})}), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", {"", REG_NONE, {}}), kOk);
  KeyInfo info;
  ASSERT_EQ(store_->QueryInfoKey(LM, "K", &info), kOk);
  EXPECT_EQ(info.subKeys, 2u);
  EXPECT_EQ(info.maxSubKeyLen, 18u);
  EXPECT_EQ(info.values, 3u);
  EXPECT_EQ(info.maxValueNameLen, 6u);
  EXPECT_EQ(info.maxValueLen, 11u);  // text plus its zero
  ASSERT_EQ(store_->QueryInfoKey(LM, "K\\short", &info), kOk);
  EXPECT_EQ(info.subKeys, 0u);
  EXPECT_EQ(info.maxSubKeyLen, 0u);
  EXPECT_EQ(info.values, 0u);
  EXPECT_EQ(info.maxValueLen, 0u);
  EXPECT_EQ(store_->QueryInfoKey(LM, "K\\none", &info), kFileNotFound);
  EXPECT_EQ(store_->QueryInfoKey(LM, "K", nullptr), kInvalidParameter);
}

TEST(RegistryHelpers, DataEncodingsAndRootNames) {
  EXPECT_EQ(SzData("COM1"), Bytes({'C', 'O', 'M', '1', 0}));
  EXPECT_EQ(SzData(""), Bytes({0}));
  EXPECT_EQ(DwordData(0x12345678), Bytes({0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(SzText(Bytes({'a', 'b', 0, 'c'})), "ab");
  EXPECT_EQ(SzText(Bytes({'a', 'b'})), "ab");
  EXPECT_EQ(SzText({}), "");
  Root r;
  ASSERT_TRUE(ParseRootName("hkey_classes_root", &r));
  EXPECT_EQ(r, Root::ClassesRoot);
  ASSERT_TRUE(ParseRootName("HKLM", &r));
  EXPECT_EQ(r, Root::LocalMachine);
  EXPECT_FALSE(ParseRootName("HKEY_CURRENT_USER", &r));
  EXPECT_STREQ(RootName(Root::ClassesRoot), "HKEY_CLASSES_ROOT");
}

// The Service Objects read about fifteen values per OpenService; a warm read must
// cost microseconds, not a disk round trip.
TEST_F(RegistryValues, WarmQueryIsFast) {
  const std::string key = kClassKey + "\\QMT500S";
  ASSERT_EQ(store_->CreateKey(LM, key), kOk);
  ASSERT_EQ(store_->SetValue(LM, key, Dw("Baudrate", 6)), kOk);
  Value v;
  ASSERT_EQ(store_->QueryValue(LM, key, "Baudrate", &v), kOk);
  constexpr int kReads = 2000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kReads; ++i) ASSERT_EQ(store_->QueryValue(LM, key, "Baudrate", &v), kOk);
  auto perRead = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - start) / kReads;
  // Generous for sanitizer builds; a read that touched the disk would take milliseconds.
  EXPECT_LT(perRead.count(), 300) << "microseconds per QueryValue";
}

}  // namespace
}  // namespace opos::reg::testing
