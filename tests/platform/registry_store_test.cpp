// Keys, values, enumeration and the Win32 results the setup tool and the Service
// Objects rely on.
#include <chrono>

#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;
constexpr Root CR = Root::ClassesRoot;

Value Sz(const std::string& name, const std::string& text) {
  return {name, REG_SZ, SzData(text)};
}
Value Dw(const std::string& name, uint32_t v) {
  return {name, REG_DWORD, DwordData(v)};
}

using RegistryKeys = StoreTest;

TEST_F(RegistryKeys, CreateMakesParentsAndKeepsFirstSpelling) {
  ASSERT_EQ(store_->CreateKey(LM, "Software\\OLEforRetail\\ServiceOPOS"), kOk) << store_->LastError();
  ASSERT_EQ(store_->CreateKey(LM, "SOFTWARE\\oleforretail\\ServiceOPOS\\POSPrinter"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "software\\OLEFORRETAIL"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "Software\\Other"), kFileNotFound);
  EXPECT_NE(store_->LastError().find("key not found"), std::string::npos);
  EXPECT_EQ(store_->KeyExists(CR, "Software"), kFileNotFound);  // roots are separate trees
  std::vector<std::string> names;
  ASSERT_EQ(store_->ListSubKeys(LM, "SOFTWARE", &names), kOk);
  EXPECT_EQ(names, std::vector<std::string>{"OLEforRetail"});
  // Only ASCII letters fold; other bytes compare as they are.
  ASSERT_EQ(store_->CreateKey(LM, "K\xE9y"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "k\xE9Y"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "K\xC9y"), kFileNotFound);
}

TEST_F(RegistryKeys, InvalidPathsAreRefusedAndWriteNothing) {
  for (const std::string& bad : {std::string("\\A"), std::string("A\\"), std::string("A\\\\B"),
                                 std::string("A\0B", 3), std::string(kMaxKeyNameLen + 1, 'x')}) {
    EXPECT_EQ(store_->CreateKey(LM, bad), kInvalidParameter) << bad;
    EXPECT_NE(store_->LastError().find("invalid key path"), std::string::npos);
  }
  KeyInfo info;
  ASSERT_EQ(store_->QueryInfoKey(LM, "", &info), kOk);
  EXPECT_EQ(info.subKeys, 0u);
  EXPECT_EQ(store_->CreateKey(LM, "a b/c:\"f\x01\xff]"), kOk);
  EXPECT_EQ(store_->CreateKey(LM, std::string(kMaxKeyNameLen, 'x')), kOk);
}

TEST_F(RegistryKeys, DeleteKeyRefusesSubkeysAndDeleteTreeTakesAll) {
  ASSERT_EQ(store_->CreateKey(LM, "A\\B\\C"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "A\\B", Dw("x", 1)), kOk);
  ASSERT_EQ(store_->CreateKey(LM, "AB"), kOk);  // sibling sharing a prefix
  EXPECT_EQ(store_->DeleteKey(LM, "A\\B"), kKeyHasChildren);
  EXPECT_EQ(store_->KeyExists(LM, "A\\B\\C"), kOk);
  EXPECT_EQ(store_->DeleteKey(LM, "A\\B\\C"), kOk);
  EXPECT_EQ(store_->DeleteKey(LM, "A\\B\\C"), kFileNotFound);
  EXPECT_EQ(store_->DeleteKey(LM, ""), kInvalidParameter);

  ASSERT_EQ(store_->CreateKey(LM, "A\\B\\C\\D"), kOk);
  EXPECT_EQ(store_->DeleteTree(LM, "a"), kOk);
  EXPECT_EQ(store_->KeyExists(LM, "A"), kFileNotFound);
  EXPECT_EQ(store_->KeyExists(LM, "AB"), kOk);
  // A new key of the old name starts empty: nothing of the old tree survives.
  ASSERT_EQ(store_->CreateKey(LM, "A\\B"), kOk);
  KeyInfo info;
  ASSERT_EQ(store_->QueryInfoKey(LM, "A\\B", &info), kOk);
  EXPECT_EQ(info.values + info.subKeys, 0u);

  // On a root, DeleteTree empties it and leaves the other root alone.
  ASSERT_EQ(store_->SetValue(LM, "", Dw("rootvalue", 1)), kOk);
  ASSERT_EQ(store_->CreateKey(CR, "KELVORA.RecPrinter.SO"), kOk);
  EXPECT_EQ(store_->DeleteTree(LM, ""), kOk);
  ASSERT_EQ(store_->QueryInfoKey(LM, "", &info), kOk);
  EXPECT_EQ(info.values + info.subKeys, 0u);
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
      {"Odd", 0x12345678u, Bytes({9})},
      {"back\\slash", REG_NONE, {}},
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
  EXPECT_EQ(store_->QueryValue(LM, "K", "absent", nullptr), kFileNotFound);
  EXPECT_NE(store_->LastError().find("absent"), std::string::npos);
  EXPECT_EQ(store_->SetValue(LM, "Missing", Dw("x", 1)), kFileNotFound);
  EXPECT_EQ(store_->SetValue(LM, "K", Dw(std::string("a\0b", 3), 1)), kInvalidParameter);
  EXPECT_EQ(store_->SetValue(LM, "K", Dw(std::string(kMaxValueNameLen + 1, 'v'), 1)), kInvalidParameter);
}

TEST_F(RegistryValues, OverwriteAndDeleteIgnoreCase) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Sz("Port", "COM1")), kOk);
  ASSERT_EQ(store_->SetValue(LM, "k", Dw("PORT", 2)), kOk);
  Value v;
  ASSERT_EQ(store_->QueryValue(LM, "K", "port", &v), kOk);
  EXPECT_EQ(v.name, "Port");
  EXPECT_EQ(v.type, REG_DWORD);
  EXPECT_EQ(store_->DeleteValue(LM, "K", "pORT"), kOk);
  EXPECT_EQ(store_->DeleteValue(LM, "K", "Port"), kFileNotFound);
  EXPECT_NE(store_->LastError().find("value not found"), std::string::npos);
  EXPECT_EQ(store_->DeleteValue(LM, "Missing", "Port"), kFileNotFound);
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
  std::string name;
  for (uint32_t i = 0; i < expect.size(); ++i) {
    ASSERT_EQ(store_->EnumKey(LM, "P", i, &name), kOk);
    EXPECT_EQ(name, expect[i]);
  }
  EXPECT_EQ(store_->EnumKey(LM, "P", 7, &name), kNoMoreItems);
  EXPECT_EQ(store_->EnumKey(LM, "Q", 0, &name), kFileNotFound);
  // All subkeys with their values at once: the same order, each key's own values.
  ASSERT_EQ(store_->SetValue(LM, "P\\AB", Sz("Port", "COM2")), kOk);
  ASSERT_EQ(store_->SetValue(LM, "P\\C", Dw("Stop", 2)), kOk);
  std::vector<std::pair<std::string, std::vector<Value>>> keys;
  ASSERT_EQ(store_->ListSubKeyValues(LM, "P", &keys), kOk);
  ASSERT_EQ(keys.size(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(keys[i].first, expect[i]);
    EXPECT_EQ(keys[i].second.size(), expect[i] == "AB" || expect[i] == "C" ? 1u : 0u) << expect[i];
  }
  EXPECT_EQ(FindValue(keys[1].second, "PORT")->data, SzData("COM2"));
  EXPECT_EQ(FindValue(keys[4].second, "stop")->data, DwordData(2));
  EXPECT_EQ(FindValue(keys[4].second, "Port"), nullptr);
  EXPECT_EQ(store_->ListSubKeyValues(LM, "Q", &keys), kFileNotFound);
}

TEST_F(RegistryEnumeration, ValuesInOrderFirstWritten) {
  ASSERT_EQ(store_->CreateKey(LM, "K"), kOk);
  for (const char* n : {"Port", "Baudrate", "", "Stop"})
    ASSERT_EQ(store_->SetValue(LM, "K", Sz(n, "1")), kOk);
  // Overwriting keeps the position; a deleted and re-added value goes last.
  ASSERT_EQ(store_->SetValue(LM, "K", Dw("BAUDRATE", 7)), kOk);
  ASSERT_EQ(store_->DeleteValue(LM, "K", "Port"), kOk);
  ASSERT_EQ(store_->SetValue(LM, "K", Sz("Port", "COM3")), kOk);
  Reopen();
  const std::vector<std::string> expect = {"Baudrate", "", "Stop", "Port"};
  std::vector<Value> values;
  ASSERT_EQ(store_->ListValues(LM, "K", &values), kOk);
  ASSERT_EQ(values.size(), expect.size());
  for (uint32_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(values[i].name, expect[i]);
    Value v;
    ASSERT_EQ(store_->EnumValue(LM, "K", i, &v), kOk);
    EXPECT_EQ(v.name, expect[i]);
    EXPECT_EQ(v.data, values[i].data);
  }
  EXPECT_EQ(values[0].data, DwordData(7));
  Value v;
  EXPECT_EQ(store_->EnumValue(LM, "K", 4, &v), kNoMoreItems);
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
  EXPECT_EQ(info.subKeys + info.maxSubKeyLen + info.values + info.maxValueLen, 0u);
  EXPECT_EQ(store_->QueryInfoKey(LM, "K", nullptr), kInvalidParameter);
}

// The Service Objects read about fifteen values per OpenService; a warm read must
// cost microseconds, not a disk round trip.
TEST_F(RegistryValues, WarmQueryIsFast) {
  const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\QMT500S";
  ASSERT_EQ(store_->CreateKey(LM, key), kOk);
  ASSERT_EQ(store_->SetValue(LM, key, Dw("Baudrate", 6)), kOk);
  Value v;
  constexpr int kReads = 2000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kReads; ++i) ASSERT_EQ(store_->QueryValue(LM, key, "Baudrate", &v), kOk);
  auto per = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start) /
             kReads;
  EXPECT_LT(per.count(), 300) << "microseconds per QueryValue (generous for sanitizer builds)";
}

}  // namespace
}  // namespace opos::reg::testing
