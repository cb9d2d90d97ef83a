// Opening the store: new, foreign, damaged, unreachable and read-only files.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;

void RawSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

std::string OpenError(const std::string& path) {
  std::string err;
  EXPECT_EQ(Store::Open(path, &err), nullptr) << path;
  return err;
}

TEST(RegistryOpen, RefusesWhatIsNoStoreAndNamesFileAndCause) {
  TempDir dir;
  const std::string garbage = dir.File("garbage.db");
  WriteFile(garbage, std::string(8192, 'x'));
  EXPECT_EQ(OpenError(garbage), "not a registry store: " + garbage + ": file is not a database");
  EXPECT_EQ(ReadFile(garbage), std::string(8192, 'x'));  // left as it was

  const std::string foreign = dir.File("foreign.db");
  RawSql(foreign, "CREATE TABLE keys(x);");
  EXPECT_EQ(OpenError(foreign), "not a registry store: " + foreign + ": a database of another application");

  const std::string newer = dir.File("newer.db");
  ASSERT_NE(Store::Open(newer, nullptr), nullptr);
  RawSql(newer, "PRAGMA user_version = 2;");
  EXPECT_NE(OpenError(newer).find(newer + " has layout version 2"), std::string::npos);

  const std::string damaged = dir.File("damaged.db");
  ASSERT_NE(Store::Open(damaged, nullptr), nullptr);
  RawSql(damaged, "DROP TABLE vals;");
  EXPECT_NE(OpenError(damaged).find("damaged layout"), std::string::npos);

  const std::string missing = dir.File("no/such/folder/r.db");
  EXPECT_EQ(OpenError(missing).rfind("cannot open registry store: " + missing + ": ", 0), 0u);
  EXPECT_NE(OpenError(dir.Path()).find(dir.Path()), std::string::npos);
  EXPECT_NE(OpenError("").find("empty path"), std::string::npos);

  WriteFile(dir.File("empty.db"), "");  // an empty file is a store not yet laid out
  EXPECT_NE(Store::Open(dir.File("empty.db"), nullptr), nullptr);
}

TEST(RegistryOpen, DefaultPathComesFromTheEnvironment) {
  const char* old = std::getenv("OPOS_REGISTRY");
  const std::string saved = old ? old : "";
  ::setenv("OPOS_REGISTRY", "/tmp/elsewhere.db", 1);
  EXPECT_EQ(Store::DefaultPath(), "/tmp/elsewhere.db");
  ::setenv("OPOS_REGISTRY", "", 1);
  EXPECT_EQ(Store::DefaultPath(), "/var/lib/opos/registry.db");
  if (old)
    ::setenv("OPOS_REGISTRY", saved.c_str(), 1);
  else
    ::unsetenv("OPOS_REGISTRY");
}

// A store whose tables span many pages behind page 1 (header and schema).
void FillStore(const std::string& path) {
  auto store = Store::Open(path, nullptr);
  ASSERT_NE(store, nullptr);
  std::string blob = "aa";
  for (int b = 1; b < 40; ++b) blob += ",aa";
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 400; ++i) {
    text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dev" + std::to_string(i) + "]\n\"Port\"=\"COM" +
            std::to_string(i) + "\"\n\"Blob\"=hex:" + blob + "\n";
  }
  ASSERT_EQ(store->Import(text), kOk) << store->LastError();
}

TEST(RegistryOpen, CorruptionFoundLaterGivesBadDb) {
  TempDir dir;
  const std::string path = dir.File("r.db");
  FillStore(path);
  std::string bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 8u * 4096);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0xA5);
  WriteFile(path, bytes);
  std::string err;
  auto store = Store::Open(path, &err);
  ASSERT_NE(store, nullptr) << err;
  EXPECT_EQ(store->KeyExists(LM, "SOFTWARE\\Dev7"), kBadDb);
  EXPECT_EQ(store->LastError().rfind("registry store is corrupt or unreadable: " + path, 0), 0u)
      << store->LastError();
  EXPECT_EQ(store->CreateKey(LM, "SOFTWARE\\New"), kBadDb);
}

// Scattered damage must give results or kBadDb, never a crash or a bad read (the
// sanitizer builds watch the second).
TEST(RegistryOpen, ScatteredDamageNeverCrashes) {
  TempDir dir;
  FillStore(dir.File("clean.db"));
  const std::string original = ReadFile(dir.File("clean.db"));
  std::mt19937 rng(1234);
  int badDb = 0;
  for (int round = 0; round < 20; ++round) {
    std::string bytes = original;
    for (int k = 0; k < 40; ++k) bytes[4096 + rng() % (bytes.size() - 4096)] = static_cast<char>(rng());
    const std::string path = dir.File("r" + std::to_string(round) + ".db");
    WriteFile(path, bytes);
    auto store = Store::Open(path, nullptr);
    if (!store) continue;
    auto check = [&](long r) {
      EXPECT_TRUE(r == kOk || r == kBadDb || r == kFileNotFound) << r;
      if (r == kBadDb) {
        ++badDb;
        EXPECT_NE(store->LastError().find(path), std::string::npos);
      }
    };
    std::string text;
    check(store->ExportAll(&text));
    check(store->QueryValue(LM, "SOFTWARE\\Dev5", "Port", nullptr));
    check(store->DeleteTree(LM, "SOFTWARE\\Dev9"));
  }
  EXPECT_GT(badDb, 0);
}

// Opens the store in a child that may not write it (as root: as user nobody;
// otherwise with file and folder made read-only), reads, tries a write, and reports
// "query|text|write|LastError", or "open failed|message".
std::string AsReader(const std::string& dir, const std::string& path) {
  const bool root = ::geteuid() == 0;
  if (!root) {
    ::chmod(path.c_str(), 0444);
    ::chmod(dir.c_str(), 0555);
  }
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    std::string out;
    auto store = Store::Open(path, &out);
    if (!store) {
      out = "open failed|" + out;
    } else {
      Value v;
      long q = store->QueryValue(LM, "SOFTWARE\\Dev", "Port", &v);
      long w = store->SetValue(LM, "SOFTWARE\\Dev", {"Port", REG_SZ, SzData("COM9")});
      out = std::to_string(q) + "|" + SzText(v.data) + "|" + std::to_string(w) + "|" + store->LastError();
    }
    ::_exit(::write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (!root) {
    ::chmod(dir.c_str(), 0755);
    ::chmod(path.c_str(), 0644);
  }
  return got;
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
  const std::string expect = "0|COM1|5|registry store cannot be written: " + path + ": ";
  EXPECT_EQ(AsReader(dir.Path(), path).rfind(expect, 0), 0u) << AsReader(dir.Path(), path);
  // The same store copied without its -wal and -shm files into that folder.
  ASSERT_EQ(::unlink((path + "-wal").c_str()), 0);
  ASSERT_EQ(::unlink((path + "-shm").c_str()), 0);
  EXPECT_EQ(AsReader(dir.Path(), path).rfind(expect, 0), 0u) << AsReader(dir.Path(), path);
  auto store = Store::Open(path, nullptr);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->SetValue(LM, "SOFTWARE\\Dev", {"Port", REG_SZ, SzData("COM2")}), kOk);
}

}  // namespace
}  // namespace opos::reg::testing
