// modRegedit against a real store: value rendering, the read limits, the
// existence rule, and batches that land whole or not at all.
#include <gtest/gtest.h>

#include "setup/mod_regedit.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using namespace modRegedit;
using testing::TempStore;
constexpr reg::Root LM = reg::Root::LocalMachine;

TEST(Regedit, EnumValuesRendersEachTypeAsTheToolShowsIt) {
  TempStore store;
  const std::string key = "Software\\T";
  ASSERT_EQ(OpenOrCreateKey(*store, key), reg::kOk);
  ASSERT_EQ(SetDwordValue(*store, key, "One", 1), reg::kOk);
  ASSERT_EQ(store->SetValue(LM, key, {"Bin", reg::REG_BINARY, {0x01, 0xAB, 0x00, 0xFF, 0x10}}), reg::kOk);
  ASSERT_EQ(store->SetValue(LM, key, {"Padded", reg::REG_SZ, {'a', 'b', 0, 0, 0}}), reg::kOk);
  ASSERT_EQ(store->SetValue(LM, key, {"Multi", reg::REG_MULTI_SZ, {'a', 0, 0}}), reg::kOk);
  ASSERT_EQ(SetDwordValue(*store, key, "Neg", -2), reg::kOk);

  ValueList list = EnumValues(*store, key);
  ASSERT_EQ(list.count, 5);
  EXPECT_EQ(list.names, (std::vector<std::string>{"One", "Bin", "Padded", "Multi", "Neg"}));
  EXPECT_EQ(list.data, (std::vector<std::string>{"00000001", "10FF00AB01", "ab", "", "FFFFFFFE"}));
  EXPECT_EQ(EnumValues(*store, "Software\\Missing").count, 0);
}

TEST(Regedit, StringReadsStopAtTheBufferAndRefuseOtherTypes) {
  TempStore store;
  const std::string key = "Software\\T";
  // 1023 bytes and the terminator fill the 1024-byte buffer exactly.
  ASSERT_EQ(SetStringValue(*store, key, "Fits", std::string(1023, 'x')), reg::kOk);
  ASSERT_EQ(SetStringValue(*store, key, "TooLong", std::string(1024, 'x')), reg::kOk);
  EXPECT_EQ(GetStringValue(*store, key, "Fits"), std::string(1023, 'x'));
  EXPECT_EQ(GetStringValue(*store, key, "TooLong"), "");

  reg::Value v;
  ASSERT_EQ(store->QueryValue(LM, key, "Fits", &v), reg::kOk);
  EXPECT_EQ(v.data.size(), AnsiByteLength(std::string(1023, 'x')) + 1) << "stored with terminator";

  ASSERT_EQ(SetDwordValue(*store, key, "Num", 7), reg::kOk);
  ASSERT_EQ(store->SetValue(LM, key, {"Short", reg::REG_DWORD, {1, 2}}), reg::kOk);
  EXPECT_EQ(GetStringValue(*store, key, "Num"), "");
  EXPECT_EQ(GetDwordValue(*store, key, "Num"), 7);
  EXPECT_EQ(GetDwordValue(*store, key, "Fits"), 0);
  EXPECT_EQ(GetDwordValue(*store, key, "Short"), 0);
  EXPECT_EQ(GetDwordValue(*store, "Software\\None", "Num"), 0);
  EXPECT_EQ(GetStringValue(*store, "Software\\None", "Fits"), "");
  // Reads never create keys.
  EXPECT_FALSE(KeyExists(*store, "Software\\None"));
}

TEST(Regedit, KeyExistsCountsOnlyNotFoundAsAbsent) {
  TempStore store;
  EXPECT_FALSE(KeyExists(*store, "Software\\A"));
  ASSERT_EQ(OpenOrCreateKey(*store, "Software\\A"), reg::kOk);
  EXPECT_TRUE(KeyExists(*store, "software\\a"));
  // A path the store refuses is not "absent".
  EXPECT_TRUE(KeyExists(*store, "Software\\\\A"));
  EXPECT_EQ(OpenOrCreateKey(*store, "Software\\\\A"), reg::kInvalidParameter);
}

TEST(Regedit, EnumSubKeysCreatesTheKeyAndGivesNoArrayWhenEmpty) {
  TempStore store;
  EXPECT_FALSE(EnumSubKeys(*store, "Software\\Class").has_value());
  EXPECT_TRUE(KeyExists(*store, "Software\\Class"));
  ASSERT_EQ(OpenOrCreateKey(*store, "Software\\Class\\b"), reg::kOk);
  ASSERT_EQ(OpenOrCreateKey(*store, "Software\\Class\\A"), reg::kOk);
  EXPECT_EQ(EnumSubKeys(*store, "Software\\Class"), (std::vector<std::string>{"A", "b"}));
}

TEST(WriteBatch, LandsWholeInOrder) {
  TempStore store;
  ASSERT_EQ(SetStringValue(*store, "Software\\Old", "x", "1"), reg::kOk);
  WriteBatch b;
  b.SetString("Software\\New", "", "Prog.ID");
  b.SetString("Software\\New", "Quote\"Back\\slash", "line1\nline2");
  b.SetDword("Software\\New", "N", -5);
  b.DeleteValue("Software\\New", "Absent");  // no error, as RegDeleteValue's caller ignores
  b.DeleteKey("Software\\Old");
  b.DeleteKey("Software\\NeverThere");
  std::string error;
  ASSERT_EQ(b.Commit(*store, &error), reg::kOk) << error;
  ValueList list = EnumValues(*store, "Software\\New");
  EXPECT_EQ(list.names, (std::vector<std::string>{"", "Quote\"Back\\slash", "N"}));
  EXPECT_EQ(GetStringValue(*store, "Software\\New", "Quote\"Back\\slash"), "line1\nline2");
  EXPECT_EQ(GetDwordValue(*store, "Software\\New", "N"), -5);
  EXPECT_FALSE(KeyExists(*store, "Software\\Old"));
}

TEST(WriteBatch, AFailingStepLeavesTheStoreUnchanged) {
  TempStore store;
  ASSERT_EQ(OpenOrCreateKey(*store, "Software\\Parent\\Child"), reg::kOk);
  const std::string before = store.Dump();

  WriteBatch withParent;
  withParent.SetString("Software\\Written", "a", "b");
  withParent.DeleteKey("Software\\Parent");  // has a subkey: refused, like RegDeleteKey
  std::string error;
  EXPECT_EQ(withParent.Commit(*store, &error), reg::kKeyHasChildren);
  EXPECT_NE(error.find("subkeys"), std::string::npos) << error;

  WriteBatch badPath;
  badPath.SetString("Software\\Written", "a", "b");
  badPath.SetDword("Software\\\\Bad", "n", 1);
  EXPECT_NE(badPath.Commit(*store, &error), reg::kOk);
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.rfind("line ", 0), 0u) << error;  // the batch's text is no user's file

  WriteBatch badName;
  badName.SetString("Software\\Written", "a", "b");
  badName.DeleteValue("Software\\Written", "line\nbreak");
  EXPECT_EQ(badName.Commit(*store, &error), reg::kInvalidParameter);

  EXPECT_EQ(store.Dump(), before);
}

}  // namespace
}  // namespace opos::setup
