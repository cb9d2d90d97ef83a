#include "setup/mod_regedit.h"

#include "platform/reg_file.h"

namespace opos::setup::modRegedit {
namespace {
constexpr reg::Root kRoot = reg::Root::LocalMachine;
}  // namespace

long OpenOrCreateKey(reg::Store& store, const std::string& path) {
  long rc = store.KeyExists(kRoot, path);
  if (rc == reg::kFileNotFound) rc = store.CreateKey(kRoot, path);
  return rc;
}

bool KeyExists(reg::Store& store, const std::string& path) {
  return store.KeyExists(kRoot, path) != reg::kFileNotFound;
}

long DeleteKey(reg::Store& store, const std::string& path) {
  return store.DeleteKey(kRoot, path);
}

long DeleteValue(reg::Store& store, const std::string& path, const std::string& name) {
  long rc = OpenOrCreateKey(store, path);
  if (rc != reg::kOk) return rc;
  return store.DeleteValue(kRoot, path, name);
}

long SetStringValue(reg::Store& store, const std::string& path, const std::string& name,
                    const std::string& text) {
  long rc = OpenOrCreateKey(store, path);
  if (rc != reg::kOk) return rc;
  reg::Value v;
  v.name = name;
  v.type = reg::REG_SZ;
  const std::string bytes = LeftAnsiBytes(text, AnsiByteLength(text));
  v.data.assign(bytes.begin(), bytes.end());
  // The store keeps REG_SZ data with its terminator, as the platform reports it.
  v.data.push_back(0);
  return store.SetValue(kRoot, path, v);
}

long SetDwordValue(reg::Store& store, const std::string& path, const std::string& name, int32_t value) {
  long rc = OpenOrCreateKey(store, path);
  if (rc != reg::kOk) return rc;
  reg::Value v;
  v.name = name;
  v.type = reg::REG_DWORD;
  v.data = reg::DwordData(static_cast<uint32_t>(value));
  return store.SetValue(kRoot, path, v);
}

std::string GetStringValue(reg::Store& store, const std::string& path, const std::string& name) {
  reg::Value v;
  if (store.QueryValue(kRoot, path, name, &v) != reg::kOk) return {};
  return StringOf(&v);
}

int32_t GetDwordValue(reg::Store& store, const std::string& path, const std::string& name) {
  reg::Value v;
  if (store.QueryValue(kRoot, path, name, &v) != reg::kOk) return 0;
  return DwordOf(&v);
}

std::string StringOf(const reg::Value* v) {
  if (v == nullptr || v->type != reg::REG_SZ || v->data.size() > kStringBufferBytes) return {};
  return reg::SzText(v->data);
}

int32_t DwordOf(const reg::Value* v) {
  if (v == nullptr || v->type != reg::REG_DWORD || v->data.size() != 4) return 0;
  uint32_t u = static_cast<uint32_t>(v->data[0]) | (static_cast<uint32_t>(v->data[1]) << 8) |
               (static_cast<uint32_t>(v->data[2]) << 16) | (static_cast<uint32_t>(v->data[3]) << 24);
  return static_cast<int32_t>(u);
}

std::optional<std::vector<std::string>> EnumSubKeys(reg::Store& store, const std::string& path) {
  if (OpenOrCreateKey(store, path) != reg::kOk) return std::nullopt;
  std::vector<std::string> names;
  if (store.ListSubKeys(kRoot, path, &names) != reg::kOk || names.empty()) return std::nullopt;
  return names;
}

std::string RenderValueData(const reg::Value& value) {
  switch (value.type) {
    case reg::REG_SZ: {
      std::string text(value.data.begin(), value.data.end());
      while (!text.empty() && text.back() == '\0') text.pop_back();
      return text;
    }
    case reg::REG_BINARY:
    case reg::REG_DWORD: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string hex;
      hex.reserve(value.data.size() * 2);
      for (auto it = value.data.rbegin(); it != value.data.rend(); ++it) {
        hex += kHex[*it >> 4];
        hex += kHex[*it & 0x0F];
      }
      return hex;
    }
    default:
      return {};
  }
}

ValueList EnumValues(reg::Store& store, const std::string& path) {
  ValueList list;
  std::vector<reg::Value> values;
  if (store.ListValues(kRoot, path, &values) != reg::kOk) return list;
  for (const reg::Value& v : values) {
    list.names.push_back(v.name);
    list.data.push_back(RenderValueData(v));
  }
  list.count = static_cast<int32_t>(list.names.size());
  return list;
}

void WriteBatch::SetString(const std::string& path, const std::string& name, const std::string& text) {
  reg::Value v;
  v.name = name;
  v.type = reg::REG_SZ;
  v.data = reg::SzData(LeftAnsiBytes(text, AnsiByteLength(text)));
  ops_.push_back({Op::kSet, path, std::move(v)});
}

void WriteBatch::SetDword(const std::string& path, const std::string& name, int32_t value) {
  reg::Value v;
  v.name = name;
  v.type = reg::REG_DWORD;
  v.data = reg::DwordData(static_cast<uint32_t>(value));
  ops_.push_back({Op::kSet, path, std::move(v)});
}

void WriteBatch::DeleteValue(const std::string& path, const std::string& name) {
  reg::Value v;
  v.name = name;
  ops_.push_back({Op::kDeleteValue, path, std::move(v)});
}

void WriteBatch::DeleteKey(const std::string& path) {
  ops_.push_back({Op::kDeleteKey, path, {}});
}

long WriteBatch::Commit(reg::Store& store, std::string* error) const {
  // The store's one multi-step transaction is the import of .reg text, so the
  // batch is spelled as such a text.
  std::string text = reg::regfile::Header();
  const std::string root = reg::RootName(kRoot);
  for (const Op& op : ops_) {
    switch (op.kind) {
      case Op::kSet:
        if (!reg::regfile::AppendKey(&text, kRoot, op.path, {op.value}, error)) {
          return reg::kInvalidParameter;
        }
        break;
      case Op::kDeleteValue: {
        if (!reg::regfile::AppendKey(&text, kRoot, op.path, {}, error)) return reg::kInvalidParameter;
        if (op.value.name.find_first_of("\r\n") != std::string::npos) {
          *error = "value name holds a line break";
          return reg::kInvalidParameter;
        }
        std::string quoted = "\"";
        for (char c : op.value.name) {
          if (c == '\\' || c == '"') quoted += '\\';
          quoted += c;
        }
        text.insert(text.size() - 1, quoted + "\"=-\n");  // before the section's blank line
        break;
      }
      case Op::kDeleteKey: {
        // [-key] removes a whole tree; a device key is deleted only when it is a leaf.
        std::vector<std::string> children;
        long rc = store.ListSubKeys(kRoot, op.path, &children);
        if (rc == reg::kOk && !children.empty()) {
          *error = "key " + op.path + " has subkeys; it is not deleted";
          return reg::kKeyHasChildren;
        }
        if (rc != reg::kOk && rc != reg::kFileNotFound) {
          *error = store.LastError();
          return rc;
        }
        if (op.path.find_first_of("\r\n") != std::string::npos) {
          *error = "key name holds a line break";
          return reg::kInvalidParameter;
        }
        text += "[-" + root + "\\" + op.path + "]\n\n";
        break;
      }
    }
  }
  long rc = store.Import(text);
  if (rc != reg::kOk) {
    // The line of the batch's own .reg text means nothing to a user.
    std::string why = store.LastError();
    if (why.rfind("line ", 0) == 0) {
      const size_t colon = why.find(": ");
      if (colon != std::string::npos && colon > 5 && why.find_first_not_of("0123456789", 5) == colon) {
        why.erase(0, colon + 2);
      }
    }
    *error = why;
  }
  return rc;
}

size_t AnsiByteLength(const std::string& text) {
  return text.size();
}

std::string LeftAnsiBytes(const std::string& text, size_t bytes) {
  return text.substr(0, bytes);
}

}  // namespace opos::setup::modRegedit
