// Shared by the registry store tests: a fresh folder per test for the store file.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/registry_store.h"

namespace opos::reg::testing {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/opos-reg-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path_ = made ? made : "";
    // Readable by others too: the read-only tests open the store as another user.
    if (made) ::chmod(made, 0755);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
  std::vector<uint8_t> v;
  for (int x : b) v.push_back(static_cast<uint8_t>(x));
  return v;
}

// A store in its own folder, opened fresh for each test.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    path_ = dir_.File("registry.db");
    std::string err;
    store_ = Store::Open(path_, &err);
    ASSERT_NE(store_, nullptr) << err;
  }
  void Reopen() {
    store_.reset();
    std::string err;
    store_ = Store::Open(path_, &err);
    ASSERT_NE(store_, nullptr) << err;
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<Store> store_;
};

}  // namespace opos::reg::testing
