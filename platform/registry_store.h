// Registry store: the Windows registry's HKLM and HKCR trees kept in one SQLite
// database file. Keys hold subkeys and typed values; names compare without regard
// to (ASCII) case and keep the spelling they were created with. Every write is one
// transaction, so a crash never leaves a half-written key; several processes may
// read and write one file at once (WAL mode, busy timeout).
//
// Results are Win32 error codes (kOk, kFileNotFound, ...) so that code written
// against the Windows registry API keeps its exact results. No method throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace opos::reg {

enum class Root { LocalMachine, ClassesRoot };

// Value types as Windows numbers them.
enum ValueType : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_MULTI_SZ = 7,
};

// Win32 error codes returned by the store.
enum : long {
  kOk = 0,                 // ERROR_SUCCESS
  kFileNotFound = 2,       // ERROR_FILE_NOT_FOUND: key or value absent
  kAccessDenied = 5,       // ERROR_ACCESS_DENIED: store cannot be written
  kInvalidParameter = 87,  // ERROR_INVALID_PARAMETER: bad name (empty key segment, ...)
  kMoreData = 234,         // ERROR_MORE_DATA
  kNoMoreItems = 259,      // ERROR_NO_MORE_ITEMS: enumeration index past the end
  kBadDb = 1009,           // ERROR_BADDB: store corrupt or unreadable
  kKeyHasChildren = 1020,  // ERROR_KEY_HAS_CHILDREN: DeleteKey on a key with subkeys
  kOutOfMemory = 14,       // ERROR_OUTOFMEMORY
  kDiskFull = 112,         // ERROR_DISK_FULL: the store's file system is full
  kBusy = 170,             // ERROR_BUSY: another process held the store past the busy timeout
};

// Name limits of the Windows registry, kept so that every key can move to Windows.
inline constexpr size_t kMaxKeyNameLen = 255;      // one key path segment, in bytes
inline constexpr size_t kMaxValueNameLen = 16383;  // in bytes

struct Value {
  std::string name;  // "" is the key's default value
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;  // raw bytes; REG_SZ includes its terminating zero
};

struct KeyInfo {
  uint32_t subKeys = 0;
  uint32_t maxSubKeyLen = 0;  // longest subkey name, in bytes, without terminator
  uint32_t values = 0;
  uint32_t maxValueNameLen = 0;  // longest value name, in bytes, without terminator
  uint32_t maxValueLen = 0;      // longest value data, in bytes
};

// Helpers to build value data in the registry's own encodings.
std::vector<uint8_t> SzData(const std::string& text);  // text plus terminating zero
std::vector<uint8_t> DwordData(uint32_t v);            // four bytes, little-endian
// Text of REG_SZ data: up to the first zero byte, or all bytes when there is none.
std::string SzText(const std::vector<uint8_t>& data);

// Key paths use backslashes ("SOFTWARE\\OLEforRetail\\ServiceOPOS"); a leading or
// trailing backslash and doubled backslashes are invalid (kInvalidParameter), as are
// a NUL byte and a segment longer than kMaxKeyNameLen. The empty path is the root
// itself. Value names may hold any byte but NUL, up to kMaxValueNameLen bytes.
//
// One Store may be shared by threads: calls are serialised on an internal lock.
class Store {
 public:
  // Opens (creating when absent) the store at path. On failure returns nullptr and
  // puts a message naming the file and the cause in *error. A store the caller may
  // only read opens for reading; its writes then give kAccessDenied.
  static std::unique_ptr<Store> Open(const std::string& path, std::string* error);
  // $OPOS_REGISTRY when set and not empty, else /var/lib/opos/registry.db. On
  // Windows the store is the machine's registry, whatever the path says.
  static std::string DefaultPath();
  // Points DefaultPath() at path for the whole process (the Service Object
  // libraries find the store through it): sets OPOS_REGISTRY.
  static void SetDefaultPath(const std::string& path);
  // Whether a store is there to read (Open would create a missing one).
  static bool Exists(const std::string& path);

  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Message for the last failure of this object (empty after a success).
  std::string LastError() const;

  // Path of the database file this store was opened on.
  const std::string& Path() const;

  long CreateKey(Root root, const std::string& path);  // creates missing parents too
  long KeyExists(Root root, const std::string& path);  // kOk or kFileNotFound (or kBadDb)
  long DeleteKey(Root root, const std::string& path);  // kKeyHasChildren when it has subkeys
  // Key with everything below it; on the empty path, everything below the root (the
  // root itself stays, like RegDeleteTree with no subkey).
  long DeleteTree(Root root, const std::string& path);

  long SetValue(Root root, const std::string& path, const Value& value);  // key must exist
  // out may be null to test only for presence.
  long QueryValue(Root root, const std::string& path, const std::string& name, Value* out);
  long DeleteValue(Root root, const std::string& path, const std::string& name);

  // Stable order: subkeys by case-folded name (ASCII upper case, as Windows orders
  // them); values in the order first written, an overwrite keeping the place.
  long EnumKey(Root root, const std::string& path, uint32_t index, std::string* name);
  long EnumValue(Root root, const std::string& path, uint32_t index, Value* out);
  long QueryInfoKey(Root root, const std::string& path, KeyInfo* out);
  long ListSubKeys(Root root, const std::string& path, std::vector<std::string>* names);
  long ListValues(Root root, const std::string& path, std::vector<Value>* values);
  // Every subkey of path with its values, in one read transaction (the path
  // resolved once), subkeys in EnumKey's order.
  long ListSubKeyValues(Root root, const std::string& path,
                        std::vector<std::pair<std::string, std::vector<Value>>>* keys);

  // Windows registry editor text format ("Windows Registry Editor Version 5.00"),
  // LF line ends, names and string data as 8-bit text. ExportKey writes a key with
  // everything below it; ExportAll both roots. String-typed hex data (hex(1), hex(2),
  // hex(7)) is written as UTF-16LE, as regedit does. A name holding a line break
  // cannot be written as .reg text: kInvalidParameter.
  long ExportKey(Root root, const std::string& path, std::string* text);
  long ExportAll(std::string* text);
  // Imports .reg text ("Windows Registry Editor Version 5.00" or "REGEDIT4"; LF or
  // CRLF; plain 8-bit, or UTF-8 / UTF-16LE with a byte-order mark, whose characters
  // must fit in 8 bits). One transaction: on any error nothing is written and the
  // message names the line.
  long Import(const std::string& text);

 private:
  Store() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The value of values (as ListValues gives them for one key) named name,
// compared without regard to case; null when there is none. With ListValues
// this reads every value of a key in one statement and one transaction.
const Value* FindValue(const std::vector<Value>& values, const std::string& name);

// Root names as used in .reg files and by the tools: "HKEY_LOCAL_MACHINE" / "HKLM",
// "HKEY_CLASSES_ROOT" / "HKCR". Returns false for an unknown name.
bool ParseRootName(const std::string& name, Root* root);
const char* RootName(Root root);  // "HKEY_LOCAL_MACHINE" or "HKEY_CLASSES_ROOT"

}  // namespace opos::reg
