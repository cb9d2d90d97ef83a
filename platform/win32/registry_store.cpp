// The registry store over the machine's own registry (advapi32). Names are
// checked by the same rules as elsewhere, so a name refused on one system is
// refused on the other; results are the registry's own Win32 codes.
#include "platform/registry_store.h"

#include <cstdlib>
#include <mutex>

#include "platform/reg_file.h"
#include "platform/registry_names.h"
#include "platform/win32/win_api.h"

namespace opos::reg {

namespace {

// What ExportAll writes: the system's own tree, not the whole machine.
constexpr const char* kOwnTree = "SOFTWARE\\OLEforRetail";

HKEY RootKey(Root root) {
  return root == Root::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
}

std::string PathName(Root root, const std::string& path) {
  std::string s = RootName(root);
  if (!path.empty()) s += "\\" + path;
  return s;
}

// An open key, closed when it goes out of scope (the roots are never closed).
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ && owned_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  LONG Open(Root root, const std::string& path, REGSAM access) {
    if (path.empty()) {
      key_ = RootKey(root);
      owned_ = false;
      return ERROR_SUCCESS;
    }
    owned_ = true;
    return RegOpenKeyExA(RootKey(root), path.c_str(), 0, access, &key_);
  }
  LONG Create(Root root, const std::string& path) {
    if (path.empty()) {
      key_ = RootKey(root);
      owned_ = false;
      return ERROR_SUCCESS;
    }
    owned_ = true;
    return RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                           nullptr);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  bool owned_ = false;
};

long ReadValue(HKEY key, const std::string& name, Value* out) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  std::vector<uint8_t> data;
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    data.resize(size);
    rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
    if (rc == ERROR_SUCCESS) {
      data.resize(size);
      if (out) {
        out->name = name;
        out->type = type;
        out->data = std::move(data);
      }
      return kOk;
    }
  }
  return rc;
}

}  // namespace

struct Store::Impl {
  std::string path;
  mutable std::mutex lock;
  std::string lastError;

  long Fail(long code, const std::string& why) {
    lastError = why;
    return code;
  }
  long Check(long code, const std::string& what) {
    if (code == kOk || code == kFileNotFound || code == kNoMoreItems) return code;
    return Fail(code, what + ": " + platform::win32::Win32ErrorText(static_cast<DWORD>(code)));
  }
  template <typename F>
  long Run(F&& f) {
    std::lock_guard<std::mutex> g(lock);
    lastError.clear();
    try {
      return f();
    } catch (const std::bad_alloc&) {
      return Fail(kOutOfMemory, "out of memory");
    }
  }
  long CheckPath(const std::string& keyPath) {
    std::vector<std::string> segs;
    std::string why;
    return SplitPath(keyPath, &segs, &why) ? kOk : Fail(kInvalidParameter, why);
  }
  long CheckValueName(const std::string& name) {
    std::string why;
    return ValidValueName(name, &why) ? kOk : Fail(kInvalidParameter, why);
  }

  long SubKeys(HKEY key, std::vector<std::string>* names) {
    names->clear();
    for (DWORD i = 0;; ++i) {
      char name[kMaxKeyNameLen + 1];
      DWORD len = sizeof name;
      LONG rc = RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return kOk;
      if (rc != ERROR_SUCCESS) return rc;
      names->emplace_back(name, len);
    }
  }
  long Values(HKEY key, std::vector<Value>* values) {
    values->clear();
    std::vector<char> name(kMaxValueNameLen + 1);
    for (DWORD i = 0;; ++i) {
      DWORD len = static_cast<DWORD>(name.size());
      LONG rc = RegEnumValueA(key, i, name.data(), &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return kOk;
      if (rc != ERROR_SUCCESS) return rc;
      Value v;
      rc = ReadValue(key, std::string(name.data(), len), &v);
      if (rc != kOk) return rc;
      values->push_back(std::move(v));
    }
  }
  long Export(Root root, const std::string& keyPath, bool writeSelf, std::string* text) {
    Key key;
    long rc = key.Open(root, keyPath, KEY_READ);
    if (rc != kOk) return Check(rc, "cannot read " + PathName(root, keyPath));
    std::vector<Value> values;
    rc = Values(key.get(), &values);
    if (rc != kOk) return Check(rc, "cannot read " + PathName(root, keyPath));
    if (writeSelf || !values.empty()) {
      std::string why;
      if (!regfile::AppendKey(text, root, keyPath, values, &why)) {
        return Fail(kInvalidParameter, "cannot export " + PathName(root, keyPath) + ": " + why);
      }
    }
    std::vector<std::string> children;
    rc = SubKeys(key.get(), &children);
    if (rc != kOk) return Check(rc, "cannot read " + PathName(root, keyPath));
    for (const std::string& child : children) {
      rc = Export(root, keyPath.empty() ? child : keyPath + "\\" + child, true, text);
      if (rc != kOk) return rc;
    }
    return kOk;
  }
};

std::string Store::DefaultPath() {
  return "the Windows registry";
}

void Store::SetDefaultPath(const std::string& path) {
  ::_putenv_s("OPOS_REGISTRY", path.c_str());
}

bool Store::Exists(const std::string&) {
  return true;
}

std::unique_ptr<Store> Store::Open(const std::string& path, std::string* error) {
  // There is one registry: the path only names it in messages.
  std::unique_ptr<Store> store(new Store());
  store->impl_ = std::make_unique<Impl>();
  store->impl_->path = path.empty() ? DefaultPath() : path;
  (void)error;
  return store;
}

Store::~Store() = default;

std::string Store::LastError() const {
  std::lock_guard<std::mutex> g(impl_->lock);
  return impl_->lastError;
}

const std::string& Store::Path() const {
  return impl_->path;
}

long Store::CreateKey(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    return impl_->Check(key.Create(root, path), "cannot create " + PathName(root, path));
  });
}

long Store::KeyExists(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    return impl_->Check(key.Open(root, path, KEY_READ), "cannot open " + PathName(root, path));
  });
}

long Store::DeleteKey(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    if (path.empty()) return impl_->Fail(kInvalidParameter, "a root key cannot be deleted");
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_READ);
    if (rc != kOk) return impl_->Check(rc, "cannot open " + PathName(root, path));
    DWORD subKeys = 0;
    rc = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
    if (rc != kOk) return impl_->Check(rc, "cannot read " + PathName(root, path));
    if (subKeys > 0) {
      return impl_->Fail(kKeyHasChildren, "key has subkeys: " + PathName(root, path) + " (use DeleteTree)");
    }
    return impl_->Check(RegDeleteKeyA(RootKey(root), path.c_str()), "cannot delete " + PathName(root, path));
  });
}

long Store::DeleteTree(Root root, const std::string& path) {
  return impl_->Run([&]() -> long {
    // Clearing a whole root of the machine's registry is never what a caller means.
    if (path.empty()) return impl_->Fail(kInvalidParameter, "the registry's root keys cannot be cleared");
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    return impl_->Check(RegDeleteTreeA(RootKey(root), path.c_str()), "cannot delete " + PathName(root, path));
  });
}

long Store::SetValue(Root root, const std::string& path, const Value& value) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc == kOk) rc = impl_->CheckValueName(value.name);
    if (rc != kOk) return rc;
    if (value.data.size() > 0xFFFFFFFFu) return impl_->Fail(kInvalidParameter, "value data too long");
    Key key;
    rc = key.Open(root, path, KEY_SET_VALUE);
    if (rc != kOk) return impl_->Check(rc, "cannot open " + PathName(root, path));
    rc = RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size()));
    return impl_->Check(rc, "cannot write " + PathName(root, path) + " \"" + value.name + "\"");
  });
}

long Store::QueryValue(Root root, const std::string& path, const std::string& name, Value* out) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc == kOk) rc = impl_->CheckValueName(name);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_QUERY_VALUE);
    if (rc != kOk) return impl_->Check(rc, "cannot open " + PathName(root, path));
    Value v;
    rc = ReadValue(key.get(), name, &v);
    if (rc == kOk && out) {
      v.name = name;
      *out = std::move(v);
    }
    return impl_->Check(rc, "cannot read " + PathName(root, path) + " \"" + name + "\"");
  });
}

long Store::DeleteValue(Root root, const std::string& path, const std::string& name) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc == kOk) rc = impl_->CheckValueName(name);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_SET_VALUE);
    if (rc != kOk) return impl_->Check(rc, "cannot open " + PathName(root, path));
    return impl_->Check(RegDeleteValueA(key.get(), name.c_str()), "cannot delete " + PathName(root, path));
  });
}

long Store::EnumKey(Root root, const std::string& path, uint32_t index, std::string* name) {
  std::vector<std::string> names;
  long rc = ListSubKeys(root, path, &names);
  if (rc != kOk) return rc;
  if (index >= names.size()) return kNoMoreItems;
  if (name) *name = names[index];
  return kOk;
}

long Store::EnumValue(Root root, const std::string& path, uint32_t index, Value* out) {
  std::vector<Value> values;
  long rc = ListValues(root, path, &values);
  if (rc != kOk) return rc;
  if (index >= values.size()) return kNoMoreItems;
  if (out) *out = std::move(values[index]);
  return kOk;
}

long Store::QueryInfoKey(Root root, const std::string& path, KeyInfo* out) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_READ);
    if (rc != kOk) return impl_->Check(rc, "cannot open " + PathName(root, path));
    DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    rc = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values, &maxName,
                          &maxData, nullptr, nullptr);
    if (rc == kOk && out) *out = KeyInfo{subKeys, maxSub, values, maxName, maxData};
    return impl_->Check(rc, "cannot read " + PathName(root, path));
  });
}

long Store::ListSubKeys(Root root, const std::string& path, std::vector<std::string>* names) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_READ);
    std::vector<std::string> list;
    if (rc == kOk) rc = impl_->SubKeys(key.get(), &list);
    if (rc == kOk && names) *names = std::move(list);
    return impl_->Check(rc, "cannot read " + PathName(root, path));
  });
}

long Store::ListValues(Root root, const std::string& path, std::vector<Value>* values) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_READ);
    std::vector<Value> list;
    if (rc == kOk) rc = impl_->Values(key.get(), &list);
    if (rc == kOk && values) *values = std::move(list);
    return impl_->Check(rc, "cannot read " + PathName(root, path));
  });
}

long Store::ListSubKeyValues(Root root, const std::string& path,
                             std::vector<std::pair<std::string, std::vector<Value>>>* keys) {
  return impl_->Run([&]() -> long {
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    Key key;
    rc = key.Open(root, path, KEY_READ);
    std::vector<std::string> names;
    if (rc == kOk) rc = impl_->SubKeys(key.get(), &names);
    std::vector<std::pair<std::string, std::vector<Value>>> list;
    for (size_t i = 0; rc == kOk && i < names.size(); ++i) {
      Key child;
      rc = child.Open(root, path.empty() ? names[i] : path + "\\" + names[i], KEY_READ);
      std::vector<Value> values;
      if (rc == kOk) rc = impl_->Values(child.get(), &values);
      if (rc == kOk) list.emplace_back(names[i], std::move(values));
    }
    if (rc == kOk && keys) *keys = std::move(list);
    return impl_->Check(rc, "cannot read " + PathName(root, path));
  });
}

long Store::ExportKey(Root root, const std::string& path, std::string* text) {
  return impl_->Run([&]() -> long {
    if (!text) return impl_->Fail(kInvalidParameter, "ExportKey: no place for the text");
    long rc = impl_->CheckPath(path);
    if (rc != kOk) return rc;
    std::string out = regfile::Header();
    rc = impl_->Export(root, path, !path.empty(), &out);
    if (rc == kOk) *text = std::move(out);
    return rc;
  });
}

long Store::ExportAll(std::string* text) {
  return impl_->Run([&]() -> long {
    if (!text) return impl_->Fail(kInvalidParameter, "ExportAll: no place for the text");
    std::string out = regfile::Header();
    long rc = impl_->Export(Root::LocalMachine, kOwnTree, true, &out);
    if (rc == kFileNotFound) rc = kOk;
    if (rc == kOk) *text = std::move(out);
    return rc;
  });
}

long Store::Import(const std::string& text) {
  std::vector<regfile::Op> ops;
  std::string why;
  if (!regfile::Parse(text, &ops, &why)) {
    std::lock_guard<std::mutex> g(impl_->lock);
    impl_->lastError = why;
    return kInvalidParameter;
  }
  // The registry has no transaction here: every name is checked before the
  // first write, so a text is refused whole rather than half applied.
  for (const regfile::Op& op : ops) {
    std::vector<std::string> segs;
    if (!SplitPath(op.path, &segs, &why) ||
        ((op.kind == regfile::Op::kSetValue || op.kind == regfile::Op::kDeleteValue) &&
         !ValidValueName(op.value.name, &why))) {
      std::lock_guard<std::mutex> g(impl_->lock);
      impl_->lastError = "line " + std::to_string(op.line) + ": " + why;
      return kInvalidParameter;
    }
  }
  for (const regfile::Op& op : ops) {
    long rc = kOk;
    switch (op.kind) {
      case regfile::Op::kCreateKey:
        rc = CreateKey(op.root, op.path);
        break;
      case regfile::Op::kDeleteTree:
        rc = DeleteTree(op.root, op.path);
        if (rc == kFileNotFound) rc = kOk;
        break;
      case regfile::Op::kSetValue:
        rc = CreateKey(op.root, op.path);
        if (rc == kOk) rc = SetValue(op.root, op.path, op.value);
        break;
      case regfile::Op::kDeleteValue:
        rc = DeleteValue(op.root, op.path, op.value.name);
        if (rc == kFileNotFound) rc = kOk;
        break;
    }
    if (rc != kOk) {
      std::lock_guard<std::mutex> g(impl_->lock);
      impl_->lastError = "line " + std::to_string(op.line) + ": " + impl_->lastError;
      return rc;
    }
  }
  return kOk;
}

}  // namespace opos::reg
