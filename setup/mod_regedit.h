// modRegedit: the setup tool's thin layer over the registry store. Every
// operation works under HKEY_LOCAL_MACHINE with a key path relative to it and
// keeps the results of the Windows registry calls it stands for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace opos::setup::modRegedit {

// The setup tool reads string values through a buffer of this many bytes,
// terminator included; a longer value reads back as empty.
inline constexpr size_t kStringBufferBytes = 1024;

// 0 when the key exists or was created, else the store's error code.
long OpenOrCreateKey(reg::Store& store, const std::string& path);
// False only when the key is certainly absent (code 2); any other failure counts
// as present, as a key that exists but cannot be opened does.
bool KeyExists(reg::Store& store, const std::string& path);
long DeleteKey(reg::Store& store, const std::string& path);
long DeleteValue(reg::Store& store, const std::string& path, const std::string& name);
long SetStringValue(reg::Store& store, const std::string& path, const std::string& name,
                    const std::string& text);
long SetDwordValue(reg::Store& store, const std::string& path, const std::string& name, int32_t value);
// Empty when the key or value is missing, not REG_SZ, or longer than the buffer.
std::string GetStringValue(reg::Store& store, const std::string& path, const std::string& name);
// 0 when missing or not a four-byte REG_DWORD.
int32_t GetDwordValue(reg::Store& store, const std::string& path, const std::string& name);
// The same rules on a value already read (null: absent), for a key whose
// values were read at once with reg::Store::ListValues.
std::string StringOf(const reg::Value* v);
int32_t DwordOf(const reg::Value* v);
// Subkey names in enumeration order; no array when there are none. Creates the
// key when it is missing.
std::optional<std::vector<std::string>> EnumSubKeys(reg::Store& store, const std::string& path);

struct ValueList {
  std::vector<std::string> names;
  std::vector<std::string> data;  // REG_SZ text, REG_DWORD/REG_BINARY as hex, else empty
  int32_t count = 0;
};
ValueList EnumValues(reg::Store& store, const std::string& path);

// Registry data of a value rendered as EnumValues renders it.
std::string RenderValueData(const reg::Value& value);

// Writes that belong together (a device key with its logical names), applied as
// one store transaction: after Commit the store holds all of them or, on any
// failure, none. The operations keep the results of their one-by-one forms:
// a value write creates its key, a value or key deletion of something absent is
// no error, and a key deletion refuses a key that has subkeys.
class WriteBatch {
 public:
  void SetString(const std::string& path, const std::string& name, const std::string& text);
  void SetDword(const std::string& path, const std::string& name, int32_t value);
  void DeleteValue(const std::string& path, const std::string& name);
  void DeleteKey(const std::string& path);
  bool empty() const { return ops_.empty(); }
  // 0, or the store's error code with a message in *error.
  long Commit(reg::Store& store, std::string* error) const;

 private:
  struct Op {
    enum Kind { kSet, kDeleteValue, kDeleteKey } kind;
    std::string path;
    reg::Value value;
  };
  std::vector<Op> ops_;
};

// Byte count of text in the ANSI code page, without a terminator. Text is kept
// in the bytes it was typed or stored in, so this is its byte length.
size_t AnsiByteLength(const std::string& text);
// The first `bytes` bytes of text by the same count.
std::string LeftAnsiBytes(const std::string& text, size_t bytes);

}  // namespace opos::setup::modRegedit
