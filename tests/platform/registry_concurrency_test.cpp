// Several threads and several processes on one store file, and a writer killed in
// the middle of its transaction.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <latch>
#include <thread>

#include "tests/platform/registry_test_util.h"

namespace opos::reg::testing {
namespace {

constexpr Root LM = Root::LocalMachine;

// Both values of a pair are written by one Import, so a reader must never see them
// differ: that would be half a transaction.
std::string PairImport(const std::string& key, uint32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", n);
  return "REGEDIT4\n[HKEY_LOCAL_MACHINE\\" + key + "]\n\"a\"=dword:" + buf + "\n\"b\"=dword:" + buf +
         "\n[HKEY_LOCAL_MACHINE\\" + key + "\\k" + std::to_string(n) + "]\n";
}

// Reads the pair of key; false when the two values differ.
bool PairConsistent(Store& s, const std::string& key, std::string* why) {
  std::vector<Value> values;
  long r = s.ListValues(LM, key, &values);
  if (r == kFileNotFound) return true;
  if (r != kOk) {
    *why = "ListValues: " + std::to_string(r) + " " + s.LastError();
    return false;
  }
  if (values.size() != 2 || values[0].data != values[1].data) {
    *why = key + ": " + std::to_string(values.size()) + " values, a and b differ";
    return false;
  }
  return true;
}

TEST(RegistryThreads, OneStoreSharedByWritersAndReaders) {
  TempDir dir;
  auto store = Store::Open(dir.File("r.db"), nullptr);
  ASSERT_NE(store, nullptr);
  constexpr int kWriters = 2, kReaders = 2, kRounds = 150;
  std::latch start(kWriters + kReaders);
  std::atomic<int> writersLeft{kWriters};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      start.arrive_and_wait();
      for (uint32_t n = 0; n < kRounds; ++n) {
        if (store->Import(PairImport("T\\w" + std::to_string(w), n)) != kOk) ++failures;
      }
      writersLeft.fetch_sub(1);
    });
  }
  std::atomic<int> reads{0};
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      std::string why;
      // Reads for as long as a writer is still writing, and once more after.
      bool last = false;
      while (!last) {
        last = writersLeft.load() == 0;
        for (int w = 0; w < kWriters; ++w) {
          if (!PairConsistent(*store, "T\\w" + std::to_string(w), &why)) {
            ADD_FAILURE() << why;
            ++failures;
          }
          ++reads;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 0);
  for (int w = 0; w < kWriters; ++w) {
    KeyInfo info;
    ASSERT_EQ(store->QueryInfoKey(LM, "T\\w" + std::to_string(w), &info), kOk);
    EXPECT_EQ(info.subKeys, static_cast<uint32_t>(kRounds));
    Value a;
    ASSERT_EQ(store->QueryValue(LM, "T\\w" + std::to_string(w), "a", &a), kOk);
    EXPECT_EQ(a.data, DwordData(kRounds - 1));
  }
}

// Waits for the child and gives its exit code, or -signal.
int Reap(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1000;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(RegistryProcesses, ForkedWritersAndConcurrentReaders) {
  TempDir dir;
  const std::string path = dir.File("r.db");
  ASSERT_NE(Store::Open(path, nullptr), nullptr);  // laid out, and closed before fork
  constexpr int kWriters = 3, kRounds = 120;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(go[1]);
      char c;
      // All writers start together when the parent closes its end of the pipe.
      if (::read(go[0], &c, 1) != 0) ::_exit(2);
      auto s = Store::Open(path, nullptr);
      if (!s) ::_exit(3);
      for (uint32_t n = 0; n < kRounds; ++n) {
        const std::string key = "P\\w" + std::to_string(w);
        if (s->Import(PairImport(key, n)) != kOk) {
          std::fprintf(stderr, "writer %d: %s\n", w, s->LastError().c_str());
          ::_exit(4);
        }
        Value v{"counter", REG_DWORD, DwordData(n)};
        if (s->SetValue(LM, "P", v) != kOk) ::_exit(5);
      }
      ::_exit(0);
    }
    pids.push_back(pid);
  }
  ::close(go[0]);

  std::atomic<bool> done{false};
  std::atomic<int> failures{0}, reads{0};
  std::latch readersReady(2);
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      auto s = Store::Open(path, nullptr);
      readersReady.count_down();
      if (!s) {
        ++failures;
        return;
      }
      std::string why;
      bool last = false;
      while (!last) {
        last = done.load();
        for (int w = 0; w < kWriters; ++w) {
          if (!PairConsistent(*s, "P\\w" + std::to_string(w), &why)) {
            ADD_FAILURE() << why;
            ++failures;
          }
        }
        std::string text;
        long er = s->ExportKey(LM, "", &text);
        if (er != kOk) {
          ADD_FAILURE() << "export: " << er << " " << s->LastError();
          ++failures;
        }
        ++reads;
      }
    });
  }
  readersReady.wait();
  ::close(go[1]);
  for (pid_t pid : pids) EXPECT_EQ(Reap(pid), 0);
  done.store(true);
  for (auto& t : readers) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 0);

  auto s = Store::Open(path, nullptr);
  ASSERT_NE(s, nullptr);
  for (int w = 0; w < kWriters; ++w) {
    const std::string key = "P\\w" + std::to_string(w);
    KeyInfo info;
    ASSERT_EQ(s->QueryInfoKey(LM, key, &info), kOk);
    EXPECT_EQ(info.subKeys, static_cast<uint32_t>(kRounds));
    Value b;
    ASSERT_EQ(s->QueryValue(LM, key, "b", &b), kOk);
    EXPECT_EQ(b.data, DwordData(kRounds - 1));
  }
}

// A VFS over the default one that, in the killed child, reports when the writer has
// put a number of pages into the WAL and then stops there, so that the parent kills
// it in the middle of its transaction and not before or after.
namespace stall {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_methods;
int g_notifyFd = -1;
int g_walWrites = 0;
constexpr int kStallAt = 20;

struct File {
  sqlite3_file base;
  sqlite3_file* real;
  bool wal;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real; }

int Close(sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
  return Real(f)->pMethods->xRead(Real(f), p, n, off);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  if (reinterpret_cast<File*>(f)->wal && ++g_walWrites == kStallAt) {
    char c = 'm';
    if (::write(g_notifyFd, &c, 1) == 1) {
      for (;;) ::pause();  // until SIGKILL
    }
  }
  return Real(f)->pMethods->xWrite(Real(f), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Real(f)->pMethods->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags) { return Real(f)->pMethods->xSync(Real(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Real(f)->pMethods->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int l) { return Real(f)->pMethods->xLock(Real(f), l); }
int Unlock(sqlite3_file* f, int l) { return Real(f)->pMethods->xUnlock(Real(f), l); }
int CheckReserved(sqlite3_file* f, int* out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->pMethods->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, p);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->pMethods->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int del) { return Real(f)->pMethods->xShmUnmap(Real(f), del); }
int Fetch(sqlite3_file* f, sqlite3_int64 off, int n, void** p) {
  return Real(f)->pMethods->xFetch(Real(f), off, n, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) {
  return Real(f)->pMethods->xUnfetch(Real(f), off, p);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* f = reinterpret_cast<File*>(file);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->wal = (flags & SQLITE_OPEN_WAL) != 0;
  int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
  f->base.pMethods = f->real->pMethods ? &g_methods : nullptr;
  return rc;
}

void Install(int notifyFd) {
  g_real = sqlite3_vfs_find(nullptr);
  g_vfs = *g_real;
  g_vfs.zName = "stall";
  g_vfs.pNext = nullptr;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
  g_vfs.xOpen = Open;
  g_methods = sqlite3_io_methods{3,        Close,       Read,         Write,    Truncate,
                                 Sync,     FileSize,    Lock,         Unlock,   CheckReserved,
                                 FileControl, SectorSize, DeviceCharacteristics, ShmMap, ShmLock,
                                 ShmBarrier, ShmUnmap,  Fetch,        Unfetch};
  g_notifyFd = notifyFd;
  sqlite3_vfs_register(&g_vfs, 1);
}

}  // namespace stall

TEST(RegistryProcesses, WriterKilledMidTransactionLeavesLastCommit) {
  TempDir dir;
  const std::string path = dir.File("r.db");
  std::string committed;
  {
    auto s = Store::Open(path, nullptr);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->Import(ReadFile(std::string(OPOS_SOURCE_DIR) + "/tests/platform/data/opos_device.reg")), kOk);
    ASSERT_EQ(s->ExportAll(&committed), kOk);
  }  // closed before fork: a connection must not cross into the child

  // Big enough to spill many pages into the WAL before its commit.
  std::string big = "Windows Registry Editor Version 5.00\n\n"
                    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\OLEforRetail]\n\n";
  std::string blob = "00";
  for (int i = 1; i < 200; ++i) blob += ",5a";
  for (int i = 0; i < 3000; ++i) {
    big += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Big\\K" + std::to_string(i) + "]\n\"v\"=hex:" + blob + "\n\n";
  }

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(fds[0]);
    stall::Install(fds[1]);
    auto s = Store::Open(path, nullptr);
    if (!s) ::_exit(3);
    s->Import(big);
    ::_exit(4);  // not reached: the VFS stalls inside the transaction
  }
  ::close(fds[1]);
  char c = 0;
  ASSERT_EQ(::read(fds[0], &c, 1), 1) << "the writer ended before it wrote its pages";
  ::close(fds[0]);
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(Reap(pid), -SIGKILL);
  EXPECT_GT(std::filesystem::file_size(path + "-wal"), 0u) << "pages of the lost transaction";

  std::string err;
  auto s = Store::Open(path, &err);
  ASSERT_NE(s, nullptr) << err;
  std::string now;
  ASSERT_EQ(s->ExportAll(&now), kOk) << s->LastError();
  EXPECT_EQ(now, committed);
  EXPECT_EQ(s->KeyExists(LM, "SOFTWARE\\Big"), kFileNotFound);
  // The store takes writes again at once: the dead writer's lock went with it.
  ASSERT_EQ(s->CreateKey(LM, "SOFTWARE\\After"), kOk) << s->LastError();
  ASSERT_EQ(s->Import(big), kOk) << s->LastError();
  KeyInfo info;
  ASSERT_EQ(s->QueryInfoKey(LM, "SOFTWARE\\Big", &info), kOk);
  EXPECT_EQ(info.subKeys, 3000u);
  EXPECT_EQ(s->KeyExists(LM, "SOFTWARE\\OLEforRetail"), kFileNotFound);
}

}  // namespace
}  // namespace opos::reg::testing
