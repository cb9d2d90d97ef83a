#include "platform/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/reg_file.h"
#include "platform/registry_names.h"

namespace opos::reg {

namespace {

constexpr const char* kDefaultPath = "/var/lib/opos/registry.db";
constexpr const char* kDefaultFolder = "/var/lib/opos";

// PRAGMA application_id tells our file from any other SQLite database; user_version
// is the layout below. A newer layout is refused rather than misread.
constexpr int32_t kApplicationId = 0x4F504F53;  // "OPOS"
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

// Names are BLOBs: they are 8-bit bytes in no particular code page, and BLOB
// comparison (memcmp) gives one order on every machine. "fold" is the name with
// ASCII letters upper-cased, which is how Windows orders subkeys.
constexpr const char* kSchemaSql =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER,"  // NULL for the two roots
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  UNIQUE(parent, fold));"
    // A value's rowid only grows, so rowid order is the order of first writing;
    // the upsert in SetValue keeps the row and with it the position.
    "CREATE TABLE vals("
    "  id INTEGER PRIMARY KEY,"
    "  key INTEGER NOT NULL,"
    "  name BLOB NOT NULL,"
    "  fold BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, fold));"
    "CREATE INDEX vals_order ON vals(key, id);"
    "INSERT INTO keys(id, parent, name, fold) VALUES"
    "  (1, NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
    "  (2, NULL, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT');";

enum StmtId {
  kBeginRead,
  kBeginWrite,
  kCommit,
  kRollback,
  kFindKey,
  kInsertKey,
  kHasChild,
  kDeleteTreeValues,
  kDeleteTreeKeys,
  kUpsertValue,
  kQueryValue,
  kDeleteValue,
  kEnumKey,
  kEnumValue,
  kListKeys,
  kListValues,
  kKeyCounts,
  kValueCounts,
  kStmtCount
};

constexpr const char* kStmtSql[kStmtCount] = {
    "BEGIN",
    // IMMEDIATE takes the write lock up front, where the busy timeout applies; a
    // deferred transaction upgrading to write would fail at once on a stale snapshot.
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id, name FROM keys WHERE parent = ?1 AND fold = ?2",
    "INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    "  SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM vals WHERE key IN sub",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    "  SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM keys WHERE id IN sub",
    "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2",
    "DELETE FROM vals WHERE key = ?1 AND fold = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY fold",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT count(*), ifnull(max(length(name)), 0) FROM keys WHERE parent = ?1",
    "SELECT count(*), ifnull(max(length(name)), 0), ifnull(max(length(data)), 0)"
    " FROM vals WHERE key = ?1",
};

int64_t RootId(Root root) {
  return root == Root::LocalMachine ? 1 : 2;
}

std::string ColumnText(sqlite3_stmt* s, int col) {
  const void* p = sqlite3_column_blob(s, col);
  int n = sqlite3_column_bytes(s, col);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::vector<uint8_t> ColumnBytes(sqlite3_stmt* s, int col) {
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, col));
  int n = sqlite3_column_bytes(s, col);
  return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
}

// SQLite binds a null pointer as SQL NULL, so empty names and data get a real one.
int BindBytes(sqlite3_stmt* s, int idx, const void* p, size_t n) {
  static const char kEmpty = 0;
  if (n > static_cast<size_t>(INT32_MAX)) return SQLITE_TOOBIG;
  return sqlite3_bind_blob(s, idx, n ? p : &kEmpty, static_cast<int>(n), SQLITE_STATIC);
}

std::string PathName(Root root, const std::string& path) {
  std::string s = RootName(root);
  if (!path.empty()) s += "\\" + path;
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------

struct Store::Impl {
  // Guards everything below: one connection is used by one thread at a time.
  mutable std::mutex mu;
  sqlite3* db = nullptr;
  std::string dbPath;
  std::string lastError;
  sqlite3_stmt* stmts[kStmtCount] = {};

  ~Impl() {
    for (sqlite3_stmt*& s : stmts) sqlite3_finalize(s);
    sqlite3_close_v2(db);
  }

  // Result of a failed SQLite call (rc) as a Win32 code, with the message kept.
  long DbFail(int rc) {
    const char* msg = db ? sqlite3_errmsg(db) : nullptr;
    std::string cause = msg && *msg ? msg : sqlite3_errstr(rc);
    long code;
    std::string head;
    switch (rc & 0xff) {
      case SQLITE_READONLY:
      case SQLITE_PERM:
      case SQLITE_AUTH:
        code = kAccessDenied;
        head = "registry store cannot be written: ";
        break;
      case SQLITE_CANTOPEN:
        code = kAccessDenied;
        head = "registry store cannot be opened: ";
        break;
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        code = kBusy;
        head = "registry store is busy (held by another writer for more than " +
               std::to_string(kBusyTimeoutMs / 1000) + " s): ";
        break;
      case SQLITE_FULL:
        code = kDiskFull;
        head = "registry store is full: ";
        break;
      case SQLITE_NOMEM:
        code = kOutOfMemory;
        head = "out of memory in registry store: ";
        break;
      case SQLITE_TOOBIG:
        code = kInvalidParameter;
        head = "value too large for registry store: ";
        break;
      default:  // CORRUPT, NOTADB, IOERR, a damaged schema, ...
        code = kBadDb;
        head = "registry store is corrupt or unreadable: ";
        break;
    }
    lastError = head + dbPath + ": " + cause;
    return code;
  }

  long Fail(long code, std::string msg) {
    lastError = std::move(msg);
    return code;
  }

  // Statement s, reset and unbound again when the Use goes out of scope.
  class Use {
   public:
    explicit Use(sqlite3_stmt* s) : s_(s) {}
    ~Use() {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* operator*() const { return s_; }

   private:
    sqlite3_stmt* s_;
  };

  // Runs a statement that returns no rows.
  int Exec(StmtId id) {
    Use u(stmts[id]);
    int rc = sqlite3_step(*u);
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
  }

  // A transaction around one public call; rolled back unless committed.
  class Txn {
   public:
    explicit Txn(Impl* impl) : impl_(impl) {}
    ~Txn() {
      if (open_ && !sqlite3_get_autocommit(impl_->db)) impl_->Exec(kRollback);
    }
    Txn(const Txn&) = delete;
    Txn& operator=(const Txn&) = delete;
    long Begin(bool write) {
      int rc = impl_->Exec(write ? kBeginWrite : kBeginRead);
      if (rc != SQLITE_OK) return impl_->DbFail(rc);
      open_ = true;
      return kOk;
    }
    long Commit() {
      int rc = impl_->Exec(kCommit);
      if (rc != SQLITE_OK) return impl_->DbFail(rc);
      open_ = false;
      return kOk;
    }

   private:
    Impl* impl_;
    bool open_ = false;
  };

  // --- helpers used inside a transaction -----------------------------------

  long FindChild(int64_t parent, const std::string& name, int64_t* id, std::string* spelling = nullptr) {
    Use u(stmts[kFindKey]);
    std::string fold = Fold(name);
    sqlite3_bind_int64(*u, 1, parent);
    int rc = BindBytes(*u, 2, fold.data(), fold.size());
    if (rc == SQLITE_OK) rc = sqlite3_step(*u);
    if (rc == SQLITE_ROW) {
      *id = sqlite3_column_int64(*u, 0);
      if (spelling) *spelling = ColumnText(*u, 1);
      return kOk;
    }
    if (rc == SQLITE_DONE) return kFileNotFound;
    return DbFail(rc);
  }

  // spelled (optional) receives the path as the keys were created.
  long Resolve(Root root, const std::vector<std::string>& segs, int64_t* id, std::string* spelled) {
    int64_t cur = RootId(root);
    std::string name;
    for (const std::string& seg : segs) {
      long r = FindChild(cur, seg, &cur, spelled ? &name : nullptr);
      if (r != kOk) return r;
      if (spelled) *spelled += (spelled->empty() ? "" : "\\") + name;
    }
    *id = cur;
    return kOk;
  }

  // Validates the path and finds its key, with the messages for both failures.
  long Locate(Root root, const std::string& path, int64_t* id, std::string* spelled = nullptr) {
    std::vector<std::string> segs;
    std::string why;
    if (!SplitPath(path, &segs, &why)) {
      return Fail(kInvalidParameter, "invalid key path \"" + path + "\": " + why);
    }
    long r = Resolve(root, segs, id, spelled);
    if (r == kFileNotFound) return Fail(r, "key not found: " + PathName(root, path));
    return r;
  }

  long CreatePath(Root root, const std::string& path, int64_t* id) {
    std::vector<std::string> segs;
    std::string why;
    if (!SplitPath(path, &segs, &why)) {
      return Fail(kInvalidParameter, "invalid key path \"" + path + "\": " + why);
    }
    int64_t cur = RootId(root);
    for (const std::string& seg : segs) {
      int64_t next = 0;
      long r = FindChild(cur, seg, &next);
      if (r == kFileNotFound) {
        Use u(stmts[kInsertKey]);
        std::string fold = Fold(seg);
        sqlite3_bind_int64(*u, 1, cur);
        int rc = BindBytes(*u, 2, seg.data(), seg.size());
        if (rc == SQLITE_OK) rc = BindBytes(*u, 3, fold.data(), fold.size());
        if (rc == SQLITE_OK) rc = sqlite3_step(*u);
        if (rc != SQLITE_DONE) return DbFail(rc);
        next = sqlite3_last_insert_rowid(db);
      } else if (r != kOk) {
        return r;
      }
      cur = next;
    }
    *id = cur;
    return kOk;
  }

  long DeleteTreeOf(int64_t id) {
    for (StmtId s : {kDeleteTreeValues, kDeleteTreeKeys}) {
      Use u(stmts[s]);
      sqlite3_bind_int64(*u, 1, id);
      int rc = sqlite3_step(*u);
      if (rc != SQLITE_DONE) return DbFail(rc);
    }
    return kOk;
  }

  long ListKeys(int64_t parent, std::vector<std::pair<int64_t, std::string>>* out) {
    out->clear();
    Use u(stmts[kListKeys]);
    sqlite3_bind_int64(*u, 1, parent);
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      out->emplace_back(sqlite3_column_int64(*u, 0), ColumnText(*u, 1));
    }
    return rc == SQLITE_DONE ? kOk : DbFail(rc);
  }

  long ListVals(int64_t key, std::vector<Value>* out) {
    out->clear();
    Use u(stmts[kListValues]);
    sqlite3_bind_int64(*u, 1, key);
    int rc;
    while ((rc = sqlite3_step(*u)) == SQLITE_ROW) {
      Value v;
      v.name = ColumnText(*u, 0);
      v.type = static_cast<uint32_t>(sqlite3_column_int64(*u, 1));
      v.data = ColumnBytes(*u, 2);
      out->push_back(std::move(v));
    }
    return rc == SQLITE_DONE ? kOk : DbFail(rc);
  }

  long SetValueIn(int64_t key, const Value& v) {
    std::string why;
    if (!ValidValueName(v.name, &why)) return Fail(kInvalidParameter, "invalid value name: " + why);
    Use u(stmts[kUpsertValue]);
    std::string fold = Fold(v.name);
    sqlite3_bind_int64(*u, 1, key);
    int rc = BindBytes(*u, 2, v.name.data(), v.name.size());
    if (rc == SQLITE_OK) rc = BindBytes(*u, 3, fold.data(), fold.size());
    if (rc == SQLITE_OK) rc = sqlite3_bind_int64(*u, 4, v.type);
    if (rc == SQLITE_OK) rc = BindBytes(*u, 5, v.data.data(), v.data.size());
    if (rc == SQLITE_OK) rc = sqlite3_step(*u);
    return rc == SQLITE_DONE ? kOk : DbFail(rc);
  }

  // Deletes a value; kFileNotFound (without a message) when it is absent.
  long DeleteValueIn(int64_t key, const std::string& name) {
    std::string why;
    if (!ValidValueName(name, &why)) return Fail(kInvalidParameter, "invalid value name: " + why);
    Use u(stmts[kDeleteValue]);
    std::string fold = Fold(name);
    sqlite3_bind_int64(*u, 1, key);
    int rc = BindBytes(*u, 2, fold.data(), fold.size());
    if (rc == SQLITE_OK) rc = sqlite3_step(*u);
    if (rc != SQLITE_DONE) return DbFail(rc);
    return sqlite3_changes(db) > 0 ? kOk : kFileNotFound;
  }

  // Appends the key and everything below it, depth first in enumeration order.
  long ExportFrom(Root root, int64_t id, const std::string& path, bool writeSelf, std::string* text) {
    struct Pending {
      int64_t id;
      std::string path;
      bool write;
    };
    std::vector<Pending> stack{{id, path, writeSelf}};
    std::vector<Value> values;
    std::vector<std::pair<int64_t, std::string>> children;
    while (!stack.empty()) {
      Pending p = std::move(stack.back());
      stack.pop_back();
      long r = ListVals(p.id, &values);
      if (r != kOk) return r;
      if (p.write || !values.empty()) {
        std::string why;
        if (!regfile::AppendKey(text, root, p.path, values, &why)) {
          return Fail(kInvalidParameter, "cannot export " + PathName(root, p.path) + ": " + why);
        }
      }
      r = ListKeys(p.id, &children);
      if (r != kOk) return r;
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        stack.push_back({it->first, p.path.empty() ? it->second : p.path + "\\" + it->second, true});
      }
    }
    return kOk;
  }

  long Apply(const regfile::Op& op) {
    int64_t id = 0;
    switch (op.kind) {
      case regfile::Op::kCreateKey:
        return CreatePath(op.root, op.path, &id);
      case regfile::Op::kDeleteTree: {
        long r = Locate(op.root, op.path, &id);
        if (r == kFileNotFound) return kOk;
        return r == kOk ? DeleteTreeOf(id) : r;
      }
      case regfile::Op::kSetValue: {
        long r = CreatePath(op.root, op.path, &id);
        return r == kOk ? SetValueIn(id, op.value) : r;
      }
      case regfile::Op::kDeleteValue: {
        long r = Locate(op.root, op.path, &id);
        if (r == kOk) r = DeleteValueIn(id, op.value.name);
        return r == kFileNotFound ? kOk : r;
      }
    }
    return kOk;
  }

  // Runs f (which returns a Win32 code) under the lock with LastError cleared first.
  // Nothing may escape to the caller, so an allocation failure becomes a code.
  // Runs f with the id of the key at path inside one read transaction.
  template <typename F>
  long ReadAt(Root root, const std::string& path, F&& f) {
    return Run([&]() -> long {
      Txn txn(this);
      long r = txn.Begin(false);
      int64_t id = 0;
      if (r == kOk) r = Locate(root, path, &id);
      return r == kOk ? f(id) : r;
    });
  }

  template <class F>
  long Run(F&& f) {
    std::lock_guard<std::mutex> lock(mu);
    lastError.clear();
    try {
      long r = f();
      if (r == kOk) lastError.clear();
      return r;
    } catch (const std::bad_alloc&) {
      lastError = "out of memory";
      return kOutOfMemory;
    } catch (...) {
      lastError = "unexpected failure in registry store";
      return kBadDb;
    }
  }
};

// ---------------------------------------------------------------------------

void Store::SetDefaultPath(const std::string& path) {
  ::setenv("OPOS_REGISTRY", path.c_str(), 1);
}

bool Store::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string Store::DefaultPath() {
  const char* env = std::getenv("OPOS_REGISTRY");
  return env && *env ? std::string(env) : std::string(kDefaultPath);
}

namespace {

// Reads one integer through a statement; false with rc on failure.
bool QueryInt(sqlite3* db, const char* sql, int64_t* out, int* rc) {
  sqlite3_stmt* s = nullptr;
  *rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (*rc == SQLITE_OK) {
    *rc = sqlite3_step(s);
    if (*rc == SQLITE_ROW) {
      *out = sqlite3_column_int64(s, 0);
      *rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(s);
  return *rc == SQLITE_OK;
}

std::string OpenFailure(sqlite3* db, int rc, const std::string& path) {
  int primary = rc & 0xff;
  const char* msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (primary == SQLITE_NOTADB) return "not a registry store: " + path + ": file is not a database";
  if (primary == SQLITE_CORRUPT) return "registry store is corrupt: " + path + ": " + msg;
  if (primary == SQLITE_CANTOPEN) {
    int err = db ? sqlite3_system_errno(db) : 0;
    return "cannot open registry store: " + path + ": " + (err ? std::strerror(err) : msg);
  }
  return "cannot open registry store: " + path + ": " + msg;
}

// URI that opens path read-only without the WAL side files.
std::string ImmutableUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = path[0] == '/' ? "file://" : "file:";
  for (char c : path) {
    auto b = static_cast<unsigned char>(c);
    if (b == '%' || b == '?' || b == '#' || b <= 0x20 || b >= 0x7F) {
      uri += '%';
      uri += kHex[b >> 4];
      uri += kHex[b & 15];
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

// Lays out a new store, unless another process has just done so.
int InitSchema(sqlite3* db) {
  // journal_mode cannot change inside a transaction; it is kept in the file.
  int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  int64_t appId = 0;
  if (QueryInt(db, "PRAGMA application_id", &appId, &rc) && appId != kApplicationId) {
    rc = sqlite3_exec(db, kSchemaSql, nullptr, nullptr, nullptr);
    std::string stamp = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                        "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, stamp.c_str(), nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return rc;
}

}  // namespace

std::unique_ptr<Store> Store::Open(const std::string& path, std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  try {
    if (path.empty()) {
      *error = "cannot open registry store: empty path";
      return nullptr;
    }
    if (path.find('\0') != std::string::npos) {
      *error = "cannot open registry store: path holds a NUL byte";
      return nullptr;
    }
    if (path == kDefaultPath && ::mkdir(kDefaultFolder, 0755) != 0 && errno != EEXIST) {
      *error = std::string("cannot create folder ") + kDefaultFolder +
               " for the registry store: " + std::strerror(errno);
      return nullptr;
    }
    std::unique_ptr<Store> store(new Store());
    store->impl_ = std::make_unique<Impl>();
    Impl& impl = *store->impl_;
    impl.dbPath = path;
    // NOMUTEX: the Impl lock already serialises every use of the connection.
    int rc = sqlite3_open_v2(
        path.c_str(), &impl.db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
      *error = OpenFailure(impl.db, rc, path);
      return nullptr;
    }
    sqlite3_busy_timeout(impl.db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(impl.db, 1);
    // Keep the -wal and -shm files when the last connection closes: a user who may
    // only read the store (and cannot create files in its folder) needs them to read.
    int persist = 1;
    sqlite3_file_control(impl.db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);

    int64_t appId = 0, version = 0, tables = 0;
    auto readHeader = [&] {
      return QueryInt(impl.db, "PRAGMA application_id", &appId, &rc) &&
             QueryInt(impl.db, "PRAGMA user_version", &version, &rc) &&
             QueryInt(impl.db, "SELECT count(*) FROM sqlite_schema", &tables, &rc);
    };
    if (!readHeader()) {
      // A reader that may not write the file nor create the -wal and -shm files in
      // its folder (the store was copied without them) can still read the file as it
      // stands. Any writer creates and keeps those files, so this is only taken
      // while no writer has used the store.
      int primary = rc & 0xff;
      if ((primary != SQLITE_READONLY && primary != SQLITE_CANTOPEN) ||
          sqlite3_db_readonly(impl.db, "main") != 1) {
        *error = OpenFailure(impl.db, rc, path);
        return nullptr;
      }
      sqlite3_close_v2(impl.db);
      impl.db = nullptr;
      rc = sqlite3_open_v2(
          ImmutableUri(path).c_str(), &impl.db,
          SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
      if (rc != SQLITE_OK || !readHeader()) {
        *error = OpenFailure(impl.db, rc, path);
        return nullptr;
      }
    }
    if (appId == 0 && version == 0 && tables == 0) {
      rc = InitSchema(impl.db);
      if (rc != SQLITE_OK) {
        *error = "cannot lay out a new registry store: " + path + ": " + sqlite3_errmsg(impl.db);
        return nullptr;
      }
      if (!QueryInt(impl.db, "PRAGMA application_id", &appId, &rc) ||
          !QueryInt(impl.db, "PRAGMA user_version", &version, &rc)) {
        *error = OpenFailure(impl.db, rc, path);
        return nullptr;
      }
    }
    if (appId != kApplicationId) {
      *error = "not a registry store: " + path + ": a database of another application";
      return nullptr;
    }
    if (version != kSchemaVersion) {
      *error = "registry store " + path + " has layout version " + std::to_string(version) +
               ", this program reads version " + std::to_string(kSchemaVersion);
      return nullptr;
    }
    // NORMAL in WAL mode keeps every commit atomic across a crash of the process or
    // the machine; only the last commits before a power loss may be lost, as with
    // the Windows registry's lazy flush.
    sqlite3_exec(impl.db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // With the WAL kept (above), this empties it on the last close and trims it after
    // each checkpoint, so it does not stay as big as the largest import.
    sqlite3_exec(impl.db, "PRAGMA journal_size_limit=4194304", nullptr, nullptr, nullptr);
    // Preparing every statement also checks that the tables have the columns we use.
    for (int i = 0; i < kStmtCount; ++i) {
      rc = sqlite3_prepare_v3(impl.db, kStmtSql[i], -1, SQLITE_PREPARE_PERSISTENT, &impl.stmts[i], nullptr);
      if (rc != SQLITE_OK) {
        *error = "not a registry store: " + path + ": damaged layout: " + sqlite3_errmsg(impl.db);
        return nullptr;
      }
    }
    error->clear();
    return store;
  } catch (const std::bad_alloc&) {
    *error = "cannot open registry store: " + path + ": out of memory";
    return nullptr;
  }
}

Store::~Store() = default;

std::string Store::LastError() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->lastError;
}

const std::string& Store::Path() const {
  return impl_->dbPath;
}

long Store::CreateKey(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    int64_t id = 0;
    if (r == kOk) r = impl_->CreatePath(root, path, &id);
    return r == kOk ? txn.Commit() : r;
  });
}

long Store::KeyExists(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    int64_t id = 0;
    return impl_->Locate(root, path, &id);
  });
}

long Store::DeleteKey(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    if (path.empty()) return impl_->Fail(kInvalidParameter, "a root key cannot be deleted");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    {
      Impl::Use u(impl_->stmts[kHasChild]);
      sqlite3_bind_int64(*u, 1, id);
      int rc = sqlite3_step(*u);
      if (rc == SQLITE_ROW) {
        return impl_->Fail(kKeyHasChildren, "key has subkeys: " + PathName(root, path) + " (use DeleteTree)");
      }
      if (rc != SQLITE_DONE) return impl_->DbFail(rc);
    }
    r = impl_->DeleteTreeOf(id);
    return r == kOk ? txn.Commit() : r;
  });
}

long Store::DeleteTree(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    if (path.empty()) {
      // The root stays: clear its values and delete each subkey's tree.
      std::vector<std::pair<int64_t, std::string>> children;
      std::vector<Value> values;
      r = impl_->ListKeys(id, &children);
      for (size_t i = 0; r == kOk && i < children.size(); ++i) r = impl_->DeleteTreeOf(children[i].first);
      if (r == kOk) r = impl_->ListVals(id, &values);
      for (size_t i = 0; r == kOk && i < values.size(); ++i) r = impl_->DeleteValueIn(id, values[i].name);
    } else {
      r = impl_->DeleteTreeOf(id);
    }
    return r == kOk ? txn.Commit() : r;
  });
}

long Store::SetValue(Root root, const std::string& path, const Value& value) {
  return impl_->Run([&]() -> long {
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r == kOk) r = impl_->SetValueIn(id, value);
    return r == kOk ? txn.Commit() : r;
  });
}

long Store::QueryValue(Root root, const std::string& path, const std::string& name, Value* out) {
  return impl_->Run([&]() -> long {
    std::string why;
    if (!ValidValueName(name, &why)) return impl_->Fail(kInvalidParameter, "invalid value name: " + why);
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    Impl::Use u(impl_->stmts[kQueryValue]);
    std::string fold = Fold(name);
    sqlite3_bind_int64(*u, 1, id);
    int rc = BindBytes(*u, 2, fold.data(), fold.size());
    if (rc == SQLITE_OK) rc = sqlite3_step(*u);
    if (rc == SQLITE_DONE) {
      return impl_->Fail(kFileNotFound, "value not found: " + PathName(root, path) + ": \"" + name + "\"");
    }
    if (rc != SQLITE_ROW) return impl_->DbFail(rc);
    if (out) {
      out->name = ColumnText(*u, 0);
      out->type = static_cast<uint32_t>(sqlite3_column_int64(*u, 1));
      out->data = ColumnBytes(*u, 2);
    }
    return kOk;
  });
}

long Store::DeleteValue(Root root, const std::string& path, const std::string& name) {
  return impl_->Run([&]() -> long {
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r == kOk) r = impl_->DeleteValueIn(id, name);
    if (r == kFileNotFound && impl_->lastError.empty()) {
      return impl_->Fail(r, "value not found: " + PathName(root, path) + ": \"" + name + "\"");
    }
    return r == kOk ? txn.Commit() : r;
  });
}

long Store::EnumKey(Root root, const std::string& path, uint32_t index, std::string* name) {
  return impl_->Run([&]() -> long {
    if (!name) return impl_->Fail(kInvalidParameter, "EnumKey: no place for the name");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    Impl::Use u(impl_->stmts[kEnumKey]);
    sqlite3_bind_int64(*u, 1, id);
    sqlite3_bind_int64(*u, 2, index);
    int rc = sqlite3_step(*u);
    if (rc == SQLITE_DONE) return impl_->Fail(kNoMoreItems, "no more subkeys");
    if (rc != SQLITE_ROW) return impl_->DbFail(rc);
    *name = ColumnText(*u, 0);
    return kOk;
  });
}

long Store::EnumValue(Root root, const std::string& path, uint32_t index, Value* out) {
  return impl_->Run([&]() -> long {
    if (!out) return impl_->Fail(kInvalidParameter, "EnumValue: no place for the value");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    Impl::Use u(impl_->stmts[kEnumValue]);
    sqlite3_bind_int64(*u, 1, id);
    sqlite3_bind_int64(*u, 2, index);
    int rc = sqlite3_step(*u);
    if (rc == SQLITE_DONE) return impl_->Fail(kNoMoreItems, "no more values");
    if (rc != SQLITE_ROW) return impl_->DbFail(rc);
    out->name = ColumnText(*u, 0);
    out->type = static_cast<uint32_t>(sqlite3_column_int64(*u, 1));
    out->data = ColumnBytes(*u, 2);
    return kOk;
  });
}

long Store::QueryInfoKey(Root root, const std::string& path, KeyInfo* out) {
  return impl_->Run([&]() -> long {
    if (!out) return impl_->Fail(kInvalidParameter, "QueryInfoKey: no place for the result");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    int64_t id = 0;
    if (r == kOk) r = impl_->Locate(root, path, &id);
    if (r != kOk) return r;
    KeyInfo info;
    {
      Impl::Use u(impl_->stmts[kKeyCounts]);
      sqlite3_bind_int64(*u, 1, id);
      int rc = sqlite3_step(*u);
      if (rc != SQLITE_ROW) return impl_->DbFail(rc);
      info.subKeys = static_cast<uint32_t>(sqlite3_column_int64(*u, 0));
      info.maxSubKeyLen = static_cast<uint32_t>(sqlite3_column_int64(*u, 1));
    }
    {
      Impl::Use u(impl_->stmts[kValueCounts]);
      sqlite3_bind_int64(*u, 1, id);
      int rc = sqlite3_step(*u);
      if (rc != SQLITE_ROW) return impl_->DbFail(rc);
      info.values = static_cast<uint32_t>(sqlite3_column_int64(*u, 0));
      info.maxValueNameLen = static_cast<uint32_t>(sqlite3_column_int64(*u, 1));
      info.maxValueLen = static_cast<uint32_t>(sqlite3_column_int64(*u, 2));
    }
    *out = info;
    return kOk;
  });
}

long Store::ListSubKeys(Root root, const std::string& path, std::vector<std::string>* names) {
  if (!names)
    return impl_->Run([&] { return impl_->Fail(kInvalidParameter, "ListSubKeys: no place for the names"); });
  return impl_->ReadAt(root, path, [&](int64_t id) -> long {
    std::vector<std::pair<int64_t, std::string>> children;
    long r = impl_->ListKeys(id, &children);
    if (r != kOk) return r;
    names->clear();
    for (auto& c : children) names->push_back(std::move(c.second));
    return kOk;
  });
}

long Store::ListValues(Root root, const std::string& path, std::vector<Value>* values) {
  if (!values)
    return impl_->Run([&] { return impl_->Fail(kInvalidParameter, "ListValues: no place for the values"); });
  return impl_->ReadAt(root, path, [&](int64_t id) -> long {
    std::vector<Value> list;
    long r = impl_->ListVals(id, &list);
    if (r == kOk) *values = std::move(list);
    return r;
  });
}

long Store::ListSubKeyValues(Root root, const std::string& path,
                             std::vector<std::pair<std::string, std::vector<Value>>>* keys) {
  if (!keys)
    return impl_->Run(
        [&] { return impl_->Fail(kInvalidParameter, "ListSubKeyValues: no place for the keys"); });
  return impl_->ReadAt(root, path, [&](int64_t id) -> long {
    std::vector<std::pair<int64_t, std::string>> children;
    long r = impl_->ListKeys(id, &children);
    std::vector<std::pair<std::string, std::vector<Value>>> list;
    for (auto& child : children) {
      if (r != kOk) break;
      std::vector<Value> values;
      r = impl_->ListVals(child.first, &values);
      list.emplace_back(std::move(child.second), std::move(values));
    }
    if (r == kOk) *keys = std::move(list);
    return r;
  });
}

long Store::ExportKey(Root root, const std::string& path, std::string* text) {
  return impl_->Run([&]() -> long {
    if (!text) return impl_->Fail(kInvalidParameter, "ExportKey: no place for the text");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    int64_t id = 0;
    std::string spelled;
    if (r == kOk) r = impl_->Locate(root, path, &id, &spelled);
    std::string out = regfile::Header();
    // A root is written as a section only when it holds values of its own.
    if (r == kOk) r = impl_->ExportFrom(root, id, spelled, !path.empty(), &out);
    if (r == kOk) *text = std::move(out);
    return r;
  });
}

long Store::ExportAll(std::string* text) {
  return impl_->Run([&]() -> long {
    if (!text) return impl_->Fail(kInvalidParameter, "ExportAll: no place for the text");
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(false);
    std::string out = regfile::Header();
    for (Root root : {Root::LocalMachine, Root::ClassesRoot}) {
      if (r == kOk) r = impl_->ExportFrom(root, RootId(root), "", false, &out);
    }
    if (r == kOk) *text = std::move(out);
    return r;
  });
}

long Store::Import(const std::string& text) {
  return impl_->Run([&]() -> long {
    std::vector<regfile::Op> ops;
    std::string why;
    if (!regfile::Parse(text, &ops, &why)) return impl_->Fail(kInvalidParameter, why);
    Impl::Txn txn(impl_.get());
    long r = txn.Begin(true);
    if (r != kOk) return r;
    for (const regfile::Op& op : ops) {
      r = impl_->Apply(op);
      if (r != kOk) {
        impl_->lastError = "line " + std::to_string(op.line) + ": " + impl_->lastError;
        return r;
      }
    }
    return txn.Commit();
  });
}

}  // namespace opos::reg
