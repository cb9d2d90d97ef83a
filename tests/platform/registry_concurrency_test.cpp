// Several threads and several processes on one store file, and a writer killed in
// the middle of its transaction.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

// Checks every writer's pair until stop is seen set, then once more; counts faults.
int ReadPairsUntil(Store& s, const std::string& prefix, int writers, const std::atomic<bool>& stop) {
  int faults = 0;
  for (bool last = false; !last;) {
    last = stop.load();
    for (int w = 0; w < writers; ++w) {
      std::vector<Value> values;
      long r = s.ListValues(LM, prefix + std::to_string(w), &values);
      if (r == kFileNotFound) continue;
      if (r != kOk || values.size() != 2 || values[0].data != values[1].data) {
        ADD_FAILURE() << prefix << w << ": result " << r << ", " << values.size() << " values "
                      << s.LastError();
        ++faults;
      }
    }
  }
  return faults;
}

void ExpectFinalPairs(Store& s, const std::string& prefix, int writers, uint32_t rounds) {
  for (int w = 0; w < writers; ++w) {
    KeyInfo info;
    ASSERT_EQ(s.QueryInfoKey(LM, prefix + std::to_string(w), &info), kOk);
    EXPECT_EQ(info.subKeys, rounds);
    Value b;
    ASSERT_EQ(s.QueryValue(LM, prefix + std::to_string(w), "b", &b), kOk);
    EXPECT_EQ(b.data, DwordData(rounds - 1));
  }
}

TEST(RegistryThreads, OneStoreSharedByWritersAndReaders) {
  TempDir dir;
  auto store = Store::Open(dir.File("r.db"), nullptr);
  ASSERT_NE(store, nullptr);
  constexpr int kWriters = 2, kReaders = 2;
  constexpr uint32_t kRounds = 150;
  std::latch start(kWriters + kReaders);
  std::atomic<int> writersLeft{kWriters}, faults{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      start.arrive_and_wait();
      for (uint32_t n = 0; n < kRounds; ++n) {
        if (store->Import(PairImport("T\\w" + std::to_string(w), n)) != kOk) ++faults;
      }
      if (writersLeft.fetch_sub(1) == 1) stop.store(true);
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      faults += ReadPairsUntil(*store, "T\\w", kWriters, stop);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(faults.load(), 0);
  ExpectFinalPairs(*store, "T\\w", kWriters, kRounds);
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
  constexpr int kWriters = 3;
  constexpr uint32_t kRounds = 120;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(go[1]);
      char c;
      if (::read(go[0], &c, 1) != 0) ::_exit(2);  // all start when the parent closes the pipe
      auto s = Store::Open(path, nullptr);
      for (uint32_t n = 0; s && n < kRounds; ++n) {
        if (s->Import(PairImport("P\\w" + std::to_string(w), n)) != kOk ||
            s->SetValue(LM, "P", {"last", REG_DWORD, DwordData(n)}) != kOk) {
          std::fprintf(stderr, "writer %d: %s\n", w, s->LastError().c_str());
          ::_exit(4);
        }
      }
      ::_exit(s ? 0 : 3);
    }
    pids.push_back(pid);
  }
  ::close(go[0]);
  // Readers in this process, each on its own connection.
  std::atomic<bool> stop{false};
  std::atomic<int> faults{0};
  std::latch ready(2);
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      auto s = Store::Open(path, nullptr);
      ready.count_down();
      faults += s ? ReadPairsUntil(*s, "P\\w", kWriters, stop) : 1;
    });
  }
  ready.wait();
  ::close(go[1]);
  for (pid_t pid : pids) EXPECT_EQ(Reap(pid), 0);
  stop.store(true);
  for (auto& t : readers) t.join();
  EXPECT_EQ(faults.load(), 0);
  auto s = Store::Open(path, nullptr);
  ASSERT_NE(s, nullptr);
  ExpectFinalPairs(*s, "P\\w", kWriters, kRounds);
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

sqlite3_file* Real(sqlite3_file* f) {
  return reinterpret_cast<File*>(f)->real;
}

int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
  char c = 'm';
  if (reinterpret_cast<File*>(f)->wal && ++g_walWrites == kStallAt && ::write(g_notifyFd, &c, 1) == 1) {
    for (;;) ::pause();  // until SIGKILL
  }
  return Real(f)->pMethods->xWrite(Real(f), p, n, off);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* f = reinterpret_cast<File*>(file);
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->wal = (flags & SQLITE_OPEN_WAL) != 0;
  int rc = g_real->xOpen(g_real, name, f->real, flags, outFlags);
  f->base.pMethods = f->real->pMethods ? &g_methods : nullptr;
  return rc;
}

// Every other file method passes straight through to the real file.
#define STALL_FORWARD(member) \
  g_methods.member = [](sqlite3_file* f, auto... a) { return Real(f)->pMethods->member(Real(f), a...); }

void Install(int notifyFd) {
  g_real = sqlite3_vfs_find(nullptr);
  g_vfs = *g_real;
  g_vfs.zName = "stall";
  g_vfs.pNext = nullptr;
  g_vfs.szOsFile = static_cast<int>(sizeof(File)) + g_real->szOsFile;
  g_vfs.xOpen = Open;
  g_methods = sqlite3_io_methods{};
  g_methods.iVersion = 3;
  g_methods.xWrite = Write;
  STALL_FORWARD(xClose);
  STALL_FORWARD(xRead);
  STALL_FORWARD(xTruncate);
  STALL_FORWARD(xSync);
  STALL_FORWARD(xFileSize);
  STALL_FORWARD(xLock);
  STALL_FORWARD(xUnlock);
  STALL_FORWARD(xCheckReservedLock);
  STALL_FORWARD(xFileControl);
  STALL_FORWARD(xSectorSize);
  STALL_FORWARD(xDeviceCharacteristics);
  STALL_FORWARD(xShmMap);
  STALL_FORWARD(xShmLock);
  STALL_FORWARD(xShmBarrier);
  STALL_FORWARD(xShmUnmap);
  STALL_FORWARD(xFetch);
  STALL_FORWARD(xUnfetch);
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
    ASSERT_EQ(s->Import(ReadFile(std::string(OPOS_SOURCE_DIR) + "/tests/platform/data/opos_device.reg")),
              kOk);
    ASSERT_EQ(s->ExportAll(&committed), kOk);
  }  // closed before fork: a connection must not cross into the child

  // Big enough to spill many pages into the WAL before its commit.
  std::string big =
      "Windows Registry Editor Version 5.00\n\n"
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
