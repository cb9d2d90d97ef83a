// Shared by the setup tool's tests: a temporary folder with a registry store, a
// fake sysfs tree of USB devices, the shipped model files, and running devsetup.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace opos::setup::testing {

inline const std::string kModelDir = std::string(OPOS_SOURCE_DIR) + "/models";
inline const std::string kDevsetup = std::string(OPOS_BUILD_DIR) + "/setup/devsetup";
inline const std::string kPrinterKey = "Software\\OLEforRetail\\ServiceOPOS\\POSPrinter";
inline const std::string kDrawerKey = "Software\\OLEforRetail\\ServiceOPOS\\CashDrawer";

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/opos-setup-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    path_ = made ? made : "";
    if (made) ::chmod(made, 0755);  // the unwritable-store test reads it as another user
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

inline void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A store file in its own temporary folder.
class TempStore {
 public:
  TempStore() {
    std::string error;
    store_ = reg::Store::Open(Path(), &error);
    EXPECT_NE(store_, nullptr) << error;
  }
  reg::Store& operator*() { return *store_; }
  reg::Store* operator->() { return store_.get(); }
  std::string Path() const { return dir_.File("registry.db"); }
  const TempDir& Dir() const { return dir_; }
  // The whole store as .reg text, to show that a refused operation changed nothing.
  std::string Dump() {
    std::string text;
    EXPECT_EQ(store_->ExportAll(&text), reg::kOk) << store_->LastError();
    return text;
  }

 private:
  TempDir dir_;
  std::unique_ptr<reg::Store> store_;
};

// A fake sysfs tree; OPOS_SYSFS_ROOT points at it while the object lives.
class FakeSysfs {
 public:
  FakeSysfs() {
    const char* old = ::getenv("OPOS_SYSFS_ROOT");
    if (old) old_ = old;
    had_ = old != nullptr;
    ::setenv("OPOS_SYSFS_ROOT", dir_.Path().c_str(), 1);
    std::filesystem::create_directories(Devices());
  }
  ~FakeSysfs() {
    if (had_) {
      ::setenv("OPOS_SYSFS_ROOT", old_.c_str(), 1);
    } else {
      ::unsetenv("OPOS_SYSFS_ROOT");
    }
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  std::string Root() const { return dir_.Path(); }
  std::string Devices() const { return dir_.Path() + "/bus/usb/devices"; }
  // A USB device "1-1.4" with its IDs; with lp >= 0 a printer interface bound
  // to the usblp driver as lpN.
  void AddDevice(const std::string& name, const std::string& vid, const std::string& pid, int lp = -1) {
    WriteFile(Devices() + "/" + name + "/idVendor", vid + "\n");
    WriteFile(Devices() + "/" + name + "/idProduct", pid + "\n");
    std::filesystem::create_directories(Devices() + "/" + name + ":1.0");
    if (lp >= 0) {
      std::filesystem::create_directories(Devices() + "/" + name + ":1.0/usbmisc/lp" + std::to_string(lp));
    }
  }
  void Remove(const std::string& name) {
    std::filesystem::remove_all(Devices() + "/" + name);
    std::filesystem::remove_all(Devices() + "/" + name + ":1.0");
  }

 private:
  TempDir dir_;
  std::string old_;
  bool had_ = false;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  return text;
}

// Runs devsetup with args; asUser >= 0 drops to that user and group first.
inline RunResult RunDevsetup(const std::vector<std::string>& args, int asUser = -1) {
  RunResult r;
  char outName[] = "/tmp/opos-setup-out-XXXXXX";
  char errName[] = "/tmp/opos-setup-err-XXXXXX";
  int outFd = ::mkstemp(outName);
  int errFd = ::mkstemp(errName);
  // Built before the fork: the child of a process with threads may not allocate.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kDevsetup.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    if (asUser >= 0 && (::setgid(asUser) != 0 || ::setuid(asUser) != 0)) ::_exit(126);
    ::execv(kDevsetup.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ::lseek(outFd, 0, SEEK_SET);
  ::lseek(errFd, 0, SEEK_SET);
  r.out = ReadAll(outFd);
  r.err = ReadAll(errFd);
  ::close(outFd);
  ::close(errFd);
  ::unlink(outName);
  ::unlink(errName);
  return r;
}

}  // namespace opos::setup::testing
