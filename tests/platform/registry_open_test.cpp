// Opening the store: new, foreign, damaged, unreachable and read-only files.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;

void RawSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* err = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

std::string OpenError(const std::string& path) {
  std::string err;
  auto store = Store::Open(path, &err);
  EXPECT_EQ(store, nullptr);
  return err;
}

TEST(RegistryOpen, NewStoreIsCreatedAndKeepsItsContent) {
  TempDir dir;
  const std::string path = dir.File("new.db");
  {
    std::string err = "stale";
    auto store = Store::Open(path, &err);
    ASSERT_NE(store, nullptr) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(store->Path(), path);
    ASSERT_EQ(store->CreateKey(LM, "SOFTWARE"), kOk);
  }
  auto again = Store::Open(path, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->KeyExists(LM, "SOFTWARE"), kOk);

  // An empty file is a store not yet laid out.
  WriteFile(dir.File("empty.db"), "");
  std::string err;
  EXPECT_NE(Store::Open(dir.File("empty.db"), &err), nullptr) << err;
}

TEST(RegistryOpen, FilesThatAreNoStoreAreRefusedByName) {
  TempDir dir;
  const std::string garbage = dir.File("garbage.db");
  WriteFile(garbage, std::string(8192, 'x'));
  std::string err = OpenError(garbage);
  EXPECT_NE(err.find("not a registry store: " + garbage), std::string::npos) << err;
  EXPECT_NE(err.find("file is not a database"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(garbage), std::string(8192, 'x'));  // left as it was

  const std::string foreign = dir.File("foreign.db");
  RawSql(foreign, "CREATE TABLE keys(x); INSERT INTO keys VALUES(1);");
  err = OpenError(foreign);
  EXPECT_NE(err.find("not a registry store: " + foreign), std::string::npos) << err;
  EXPECT_NE(err.find("another application"), std::string::npos) << err;

  const std::string newer = dir.File("newer.db");
  ASSERT_NE(Store::Open(newer, nullptr), nullptr);
  RawSql(newer, "PRAGMA user_version = 2;");
  err = OpenError(newer);
  EXPECT_NE(err.find(newer), std::string::npos) << err;
  EXPECT_NE(err.find("layout version 2"), std::string::npos) << err;

  const std::string damaged = dir.File("damaged.db");
  ASSERT_NE(Store::Open(damaged, nullptr), nullptr);
  RawSql(damaged, "DROP TABLE vals;");
  err = OpenError(damaged);
  EXPECT_NE(err.find("damaged layout"), std::string::npos) << err;
}

TEST(RegistryOpen, UnreachablePathsNameTheCause) {
  TempDir dir;
  std::string err = OpenError(dir.File("no/such/folder/r.db"));
  EXPECT_NE(err.find(dir.File("no/such/folder/r.db")), std::string::npos) << err;
  EXPECT_NE(err.find("cannot open registry store"), std::string::npos) << err;
  err = OpenError(dir.path());
  EXPECT_NE(err.find(dir.path()), std::string::npos) << err;
  err = OpenError("");
  EXPECT_NE(err.find("empty path"), std::string::npos) << err;
}

TEST(RegistryOpen, DefaultPathComesFromTheEnvironment) {
  const char* old = std::getenv("OPOS_REGISTRY");
  std::string saved = old ? old : "";
  ::setenv("OPOS_REGISTRY", "/tmp/elsewhere.db", 1);
  EXPECT_EQ(Store::DefaultPath(), "/tmp/elsewhere.db");
  ::setenv("OPOS_REGISTRY", "", 1);
  EXPECT_EQ(Store::DefaultPath(), "/var/lib/opos/registry.db");
  ::unsetenv("OPOS_REGISTRY");
  EXPECT_EQ(Store::DefaultPath(), "/var/lib/opos/registry.db");
  if (old) ::setenv("OPOS_REGISTRY", saved.c_str(), 1);
}

// A store of many keys, so that the tables span many pages behind page 1.
void FillStore(const std::string& path) {
  auto store = Store::Open(path, nullptr);
  ASSERT_NE(store, nullptr);
  std::string blob = "ab";
  for (int b = 1; b < 40; ++b) blob += ",ab";
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 400; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dev" + std::to_string(i) + "]\n";
    text += "\"Port\"=\"COM" + std::to_string(i) + "\"\n\"Baudrate\"=dword:00000006\n";
    text += "\"Blob\"=hex:" + blob + "\n";
  }
  ASSERT_EQ(store->Import(text), kOk) << store->LastError();
}

TEST(RegistryOpen, CorruptionFoundLaterGivesBadDb) {
  TempDir dir;
  const std::string path = dir.File("r.db");
  FillStore(path);
  std::string bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 16u * 4096);
  // Page 1 (header and schema) stays; every table page behind it is wiped.
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
  WriteFile(path, bytes);

  std::string err;
  auto store = Store::Open(path, &err);
  ASSERT_NE(store, nullptr) << err;
  EXPECT_EQ(store->KeyExists(LM, "SOFTWARE\\Dev7"), kBadDb);
  EXPECT_NE(store->LastError().find(path), std::string::npos) << store->LastError();
  EXPECT_NE(store->LastError().find("corrupt"), std::string::npos) << store->LastError();
  EXPECT_EQ(store->CreateKey(LM, "SOFTWARE\\New"), kBadDb);
  std::string text;
  EXPECT_EQ(store->ExportAll(&text), kBadDb);
}

// Scattered damage must give results or kBadDb, never a crash or a bad read
// (the sanitizer builds watch the second).
TEST(RegistryOpen, ScatteredDamageNeverCrashes) {
  TempDir dir;
  const std::string clean = dir.File("clean.db");
  FillStore(clean);
  const std::string original = ReadFile(clean);
  std::mt19937 rng(1234);
  int badDb = 0;
  for (int round = 0; round < 20; ++round) {
    std::string bytes = original;
    for (int k = 0; k < 40; ++k) {
      size_t at = 4096 + rng() % (bytes.size() - 4096);
      bytes[at] = static_cast<char>(rng());
    }
    const std::string path = dir.File("r" + std::to_string(round) + ".db");
    WriteFile(path, bytes);
    auto store = Store::Open(path, nullptr);
    if (!store) continue;
    auto check = [&](long r) {
      EXPECT_TRUE(r == kOk || r == kBadDb || r == kFileNotFound) << r;
      if (r == kBadDb) {
        ++badDb;
        EXPECT_NE(store->LastError().find(path), std::string::npos) << store->LastError();
      }
    };
    std::string text;
    check(store->ExportAll(&text));
    Value v;
    check(store->QueryValue(LM, "SOFTWARE\\Dev5", "Port", &v));
    std::vector<std::string> names;
    check(store->ListSubKeys(LM, "SOFTWARE", &names));
    check(store->DeleteTree(LM, "SOFTWARE\\Dev9"));
  }
  EXPECT_GT(badDb, 0);  // the damage was found at least once
}

struct ChildReport {
  bool opened = false;
  std::string openError;
  long query = -1;
  std::string text;
  long write = -1;
  std::string writeError;
};

// Runs body as a user without write access to the store: as root the child drops
// to nobody; otherwise the file and folder are made read-only for the run.
ChildReport AsReader(const std::string& dir, const std::string& path) {
  const bool root = ::geteuid() == 0;
  if (!root) {
    ::chmod(path.c_str(), 0444);
    ::chmod(dir.c_str(), 0555);
  }
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    std::string err;
    auto store = Store::Open(path, &err);
    std::string out;
    if (!store) {
      out = "0\n" + err + "\n";
    } else {
      Value v;
      long q = store->QueryValue(LM, "SOFTWARE\\Dev", "Port", &v);
      long w = store->SetValue(LM, "SOFTWARE\\Dev", {"Port", REG_SZ, SzData("COM9")});
      out = "1\n\n" + std::to_string(q) + "\n" + SzText(v.data) + "\n" + std::to_string(w) + "\n" +
            store->LastError() + "\n";
    }
    ssize_t n = ::write(fds[1], out.data(), out.size());
    ::_exit(n == static_cast<ssize_t>(out.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string got;
  char buf[512];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (!root) {
    ::chmod(dir.c_str(), 0755);
    ::chmod(path.c_str(), 0644);
  }
  ChildReport r;
  std::istringstream in(got);
  std::string line;
  std::getline(in, line);
  r.opened = line == "1";
  std::getline(in, r.openError);
  if (std::getline(in, line)) r.query = std::stol(line);
  std::getline(in, r.text);
  if (std::getline(in, line)) r.write = std::stol(line);
  std::getline(in, r.writeError);
  return r;
}

TEST(RegistryOpen, ReadOnlyStoreReadsAndRefusesWrites) {
  TempDir dir;
  const std::string path = dir.File("r.db");
  {
    auto store = Store::Open(path, nullptr);
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(store->CreateKey(LM, "SOFTWARE\\Dev"), kOk);
    ASSERT_EQ(store->SetValue(LM, "SOFTWARE\\Dev", {"Port", REG_SZ, SzData("COM1")}), kOk);
  }
  ChildReport r = AsReader(dir.path(), path);
  ASSERT_TRUE(r.opened) << r.openError;
  EXPECT_EQ(r.query, kOk);
  EXPECT_EQ(r.text, "COM1");
  EXPECT_EQ(r.write, kAccessDenied);
  EXPECT_NE(r.writeError.find(path), std::string::npos) << r.writeError;
  EXPECT_NE(r.writeError.find("cannot be written"), std::string::npos) << r.writeError;

  // Copied without its -wal and -shm files into a folder the reader cannot write.
  ASSERT_EQ(::unlink((path + "-wal").c_str()), 0);
  ASSERT_EQ(::unlink((path + "-shm").c_str()), 0);
  r = AsReader(dir.path(), path);
  ASSERT_TRUE(r.opened) << r.openError;
  EXPECT_EQ(r.query, kOk);
  EXPECT_EQ(r.text, "COM1");
  EXPECT_EQ(r.write, kAccessDenied);
  EXPECT_NE(r.writeError.find(path), std::string::npos) << r.writeError;

  auto store = Store::Open(path, nullptr);
  ASSERT_NE(store, nullptr);
  Value v;
  ASSERT_EQ(store->QueryValue(LM, "SOFTWARE\\Dev", "Port", &v), kOk);
  EXPECT_EQ(SzText(v.data), "COM1");
}

}  // namespace
}  // namespace opos::reg::testing
