#include "tools/opos/reg_command.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "platform/com_registry.h"
#include "platform/dispatch.h"
#include "platform/reg_file.h"
#include "tools/opos/run_command.h"
#include "tools/opos/script.h"

namespace opos::tool {

using reg::Root;

namespace {

// Reading commands never create a store: a missing one is reported.
std::unique_ptr<reg::Store> OpenExisting(const std::string& path) {
  if (!reg::Store::Exists(path)) {
    std::fprintf(stderr, "opos reg: no registry store at %s\n", path.c_str());
    return nullptr;
  }
  std::string error;
  auto store = reg::Store::Open(path, &error);
  if (!store) std::fprintf(stderr, "opos reg: %s\n", error.c_str());
  return store;
}

std::unique_ptr<reg::Store> OpenForWriting(const std::string& path) {
  std::string error;
  auto store = reg::Store::Open(path, &error);
  if (!store) std::fprintf(stderr, "opos reg: %s\n", error.c_str());
  return store;
}

std::string KeyText(Root root, const std::string& path) {
  return std::string(root == Root::LocalMachine ? "HKLM" : "HKCR") + (path.empty() ? "" : "\\" + path);
}

std::string Describe(reg::Store& store, long rc) {
  std::string why = store.LastError();
  if (!why.empty()) return why;
  switch (rc) {
    case reg::kFileNotFound:
      return "not found";
    case reg::kAccessDenied:
      return "the store cannot be written";
    case reg::kInvalidParameter:
      return "invalid name";
    case reg::kKeyHasChildren:
      return "the key has subkeys";
    case reg::kBusy:
      return "the store is busy";
    case reg::kDiskFull:
      return "the disk is full";
    default:
      return "error " + std::to_string(rc);
  }
}

// Key paths the store would refuse, caught before anything is written.
bool CheckPath(const std::string& path, std::string* error) {
  if (path.empty()) return true;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('\\', start);
    const std::string seg = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (seg.empty()) {
      *error = "empty key name in " + path;
      return false;
    }
    if (seg.size() > reg::kMaxKeyNameLen) {
      *error = "key name longer than " + std::to_string(reg::kMaxKeyNameLen) + " bytes";
      return false;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (path.find('\0') != std::string::npos) {
    *error = "key name holds a NUL byte";
    return false;
  }
  return true;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case reg::REG_NONE:
      return "REG_NONE";
    case reg::REG_SZ:
      return "REG_SZ";
    case reg::REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case reg::REG_BINARY:
      return "REG_BINARY";
    case reg::REG_DWORD:
      return "REG_DWORD";
    case reg::REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    default:
      return nullptr;
  }
}

std::string TypeText(uint32_t type) {
  const char* name = TypeName(type);
  return name ? name : "REG_TYPE(" + std::to_string(type) + ")";
}

std::string HexBytes(const std::vector<uint8_t>& data) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t b : data) {
    s.push_back(kDigits[b >> 4]);
    s.push_back(kDigits[b & 15]);
  }
  return s;
}

// The data as `reg set` takes it: text, decimal DWORD, or hex bytes.
std::string DataText(const reg::Value& v) {
  if (v.type == reg::REG_SZ || v.type == reg::REG_EXPAND_SZ) return reg::SzText(v.data);
  if (v.type == reg::REG_DWORD && v.data.size() == 4) {
    const uint32_t u = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
    return std::to_string(u);
  }
  return HexBytes(v.data);
}

// One line of a listing cannot hold a raw line break; control bytes show as \xHH.
std::string OneLine(const std::string& s) {
  std::string out;
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

bool ParseDword(const std::string& text, uint32_t* out) {
  int32_t v = 0;
  if (!ParseInt32(text, &v)) {
    // Decimal above INT32_MAX still fits a DWORD.
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
      return false;
    const unsigned long long u = std::strtoull(text.c_str(), nullptr, 10);
    if (u > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(u);
    return true;
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* out) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    out->push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: opos [--registry PATH] reg set KEY NAME (--sz TEXT | --dword N | --binary HEX)\n"
               "       opos [--registry PATH] reg get KEY [NAME]\n"
               "       opos [--registry PATH] reg list KEY\n"
               "       opos [--registry PATH] reg delete KEY [NAME]\n"
               "       opos [--registry PATH] reg export [KEY]\n"
               "       opos [--registry PATH] reg import FILE\n"
               "KEY is HKLM\\... or HKCR\\...; NAME @ is the default value.\n");
  return kExitUsage;
}

std::string ValueName(const std::string& arg) {
  return arg == "@" ? std::string() : arg;
}

int Set(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() != 5) return Usage();
  Root root;
  std::string path, error;
  if (!ParseKeyArgument(a[1], &root, &path, &error) || !CheckPath(path, &error)) {
    std::fprintf(stderr, "opos reg set: %s\n", error.c_str());
    return kExitUsage;
  }
  reg::Value v;
  v.name = ValueName(a[2]);
  if (v.name.size() > reg::kMaxValueNameLen) {
    std::fprintf(stderr, "opos reg set: value name longer than %zu bytes\n", reg::kMaxValueNameLen);
    return kExitUsage;
  }
  const std::string& kind = a[3];
  const std::string& data = a[4];
  if (kind == "--sz") {
    v.type = reg::REG_SZ;
    v.data = reg::SzData(data);
  } else if (kind == "--dword") {
    uint32_t n = 0;
    if (!ParseDword(data, &n)) {
      std::fprintf(stderr, "opos reg set: %s is not a 32-bit number (decimal or 0x hex)\n", data.c_str());
      return kExitUsage;
    }
    v.type = reg::REG_DWORD;
    v.data = reg::DwordData(n);
  } else if (kind == "--binary") {
    if (!ParseHex(data, &v.data)) {
      std::fprintf(stderr, "opos reg set: %s is not a list of hex bytes\n", data.c_str());
      return kExitUsage;
    }
    v.type = reg::REG_BINARY;
  } else {
    return Usage();
  }
  // Creating the key and setting the value must be one write; the store's
  // import is one transaction, so the change goes through it.
  std::string text = reg::regfile::Header();
  if (!reg::regfile::AppendKey(&text, root, path, {v}, &error)) {
    std::fprintf(stderr, "opos reg set: %s\n", error.c_str());
    return kExitUsage;
  }
  auto store = OpenForWriting(storePath);
  if (!store) return kExitFailure;
  const long rc = store->Import(text);
  if (rc != reg::kOk) {
    std::fprintf(stderr, "opos reg set: cannot write %s: %s\n", KeyText(root, path).c_str(),
                 Describe(*store, rc).c_str());
    return kExitFailure;
  }
  return kExitOk;
}

int Get(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() != 2 && a.size() != 3) return Usage();
  Root root;
  std::string path, error;
  if (!ParseKeyArgument(a[1], &root, &path, &error)) {
    std::fprintf(stderr, "opos reg get: %s\n", error.c_str());
    return kExitUsage;
  }
  auto store = OpenExisting(storePath);
  if (!store) return kExitFailure;
  if (store->KeyExists(root, path) != reg::kOk) {
    std::fprintf(stderr, "opos reg get: no key %s\n", KeyText(root, path).c_str());
    return kExitFailure;
  }
  if (a.size() == 3) {
    reg::Value v;
    const long rc = store->QueryValue(root, path, ValueName(a[2]), &v);
    if (rc != reg::kOk) {
      std::fprintf(stderr, "opos reg get: no value %s in %s\n", a[2].c_str(), KeyText(root, path).c_str());
      return kExitFailure;
    }
    const std::string text = DataText(v);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return kExitOk;
  }
  std::vector<reg::Value> values;
  const long rc = store->ListValues(root, path, &values);
  if (rc != reg::kOk) {
    std::fprintf(stderr, "opos reg get: %s: %s\n", KeyText(root, path).c_str(), Describe(*store, rc).c_str());
    return kExitFailure;
  }
  for (const reg::Value& v : values) {
    const std::string line = (v.name.empty() ? "@" : OneLine(v.name)) + "\t" + TypeText(v.type) + "\t" +
                             OneLine(DataText(v)) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return kExitOk;
}

int List(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() != 2) return Usage();
  Root root;
  std::string path, error;
  if (!ParseKeyArgument(a[1], &root, &path, &error)) {
    std::fprintf(stderr, "opos reg list: %s\n", error.c_str());
    return kExitUsage;
  }
  auto store = OpenExisting(storePath);
  if (!store) return kExitFailure;
  std::vector<std::string> names;
  const long rc = store->ListSubKeys(root, path, &names);
  if (rc != reg::kOk) {
    std::fprintf(stderr, "opos reg list: %s: %s\n", KeyText(root, path).c_str(),
                 rc == reg::kFileNotFound ? "no such key" : Describe(*store, rc).c_str());
    return kExitFailure;
  }
  for (const std::string& n : names) std::printf("%s\n", OneLine(n).c_str());
  return kExitOk;
}

int Delete(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() != 2 && a.size() != 3) return Usage();
  Root root;
  std::string path, error;
  if (!ParseKeyArgument(a[1], &root, &path, &error)) {
    std::fprintf(stderr, "opos reg delete: %s\n", error.c_str());
    return kExitUsage;
  }
  if (a.size() == 2 && path.empty()) {
    std::fprintf(stderr, "opos reg delete: refusing to delete a whole root; name a key below it\n");
    return kExitUsage;
  }
  auto store = OpenExisting(storePath);
  if (!store) return kExitFailure;
  long rc;
  if (a.size() == 3) {
    rc = store->DeleteValue(root, path, ValueName(a[2]));
    if (rc == reg::kFileNotFound) {
      std::fprintf(stderr, "opos reg delete: no value %s in %s\n", a[2].c_str(), KeyText(root, path).c_str());
      return kExitFailure;
    }
  } else {
    rc = store->DeleteTree(root, path);
    if (rc == reg::kFileNotFound) {
      std::fprintf(stderr, "opos reg delete: no key %s\n", KeyText(root, path).c_str());
      return kExitFailure;
    }
  }
  if (rc != reg::kOk) {
    std::fprintf(stderr, "opos reg delete: %s: %s\n", KeyText(root, path).c_str(),
                 Describe(*store, rc).c_str());
    return kExitFailure;
  }
  return kExitOk;
}

int Export(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() > 2) return Usage();
  Root root = Root::LocalMachine;
  std::string path, error;
  if (a.size() == 2 && !ParseKeyArgument(a[1], &root, &path, &error)) {
    std::fprintf(stderr, "opos reg export: %s\n", error.c_str());
    return kExitUsage;
  }
  auto store = OpenExisting(storePath);
  if (!store) return kExitFailure;
  std::string text;
  const long rc = a.size() == 2 ? store->ExportKey(root, path, &text) : store->ExportAll(&text);
  if (rc != reg::kOk) {
    std::fprintf(
        stderr, "opos reg export: %s\n",
        rc == reg::kFileNotFound ? ("no key " + KeyText(root, path)).c_str() : Describe(*store, rc).c_str());
    return kExitFailure;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int Import(const std::vector<std::string>& a, const std::string& storePath) {
  if (a.size() != 2) return Usage();
  std::string text;
  if (a[1] == "-") {
    std::ostringstream ss;
    ss << std::cin.rdbuf();
    text = ss.str();
  } else {
    std::ifstream in(a[1], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "opos reg import: cannot read %s: %s\n", a[1].c_str(), std::strerror(errno));
      return kExitFailure;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
  }
  auto store = OpenForWriting(storePath);
  if (!store) return kExitFailure;
  const long rc = store->Import(text);
  if (rc != reg::kOk) {
    std::fprintf(stderr, "opos reg import: %s: %s (nothing was imported)\n", a[1].c_str(),
                 Describe(*store, rc).c_str());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

bool ParseKeyArgument(const std::string& text, Root* root, std::string* path, std::string* error) {
  const size_t slash = text.find('\\');
  const std::string rootName = text.substr(0, slash);
  if (!reg::ParseRootName(rootName, root)) {
    *error = "key " + text + " does not start with HKLM\\ or HKCR\\";
    return false;
  }
  *path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  return true;
}

int RegCommand(const std::vector<std::string>& args, const std::string& storePath) {
  if (args.empty()) return Usage();
  const std::string& verb = args[0];
  if (verb == "set") return Set(args, storePath);
  if (verb == "get") return Get(args, storePath);
  if (verb == "list") return List(args, storePath);
  if (verb == "delete") return Delete(args, storePath);
  if (verb == "export") return Export(args, storePath);
  if (verb == "import") return Import(args, storePath);
  std::fprintf(stderr, "opos reg: unknown command %s\n", verb.c_str());
  return Usage();
}

namespace {

// Removes every class whose InprocServer32 is the library, with its ProgID when
// that still names the class: one import, so all of it goes or nothing does.
int Unregister(const std::string& lib, const std::string& storePath) {
  auto store = OpenExisting(storePath);
  if (!store) return kExitFailure;
  const std::string path = com::RegisteredLibraryPath(lib);
  std::vector<std::string> clsids;
  store->ListSubKeys(Root::ClassesRoot, "CLSID", &clsids);
  std::string text = "Windows Registry Editor Version 5.00\n";
  int found = 0;
  for (const std::string& c : clsids) {
    reg::Value v;
    if (store->QueryValue(Root::ClassesRoot, "CLSID\\" + c + "\\InprocServer32", "", &v) != reg::kOk ||
        v.type != reg::REG_SZ || reg::SzText(v.data) != path) {
      continue;
    }
    ++found;
    text += "\n[-HKEY_CLASSES_ROOT\\CLSID\\" + c + "]\n";
    reg::Value progId, back;
    if (store->QueryValue(Root::ClassesRoot, "CLSID\\" + c + "\\ProgID", "", &progId) == reg::kOk &&
        progId.type == reg::REG_SZ) {
      const std::string p = reg::SzText(progId.data);
      if (!p.empty() && p.find_first_of("\\[]\n") == std::string::npos &&
          store->QueryValue(Root::ClassesRoot, p + "\\CLSID", "", &back) == reg::kOk &&
          strcasecmp(reg::SzText(back.data).c_str(), c.c_str()) == 0) {
        text += "\n[-HKEY_CLASSES_ROOT\\" + p + "]\n";
      }
    }
  }
  if (found == 0) {
    std::fprintf(stderr, "opos regsvr: no class in %s is registered to %s\n", storePath.c_str(),
                 path.c_str());
    return kExitFailure;
  }
  const long rc = store->Import(text);
  if (rc != reg::kOk) {
    std::fprintf(stderr,
                 "opos regsvr: cannot remove the registration of %s from %s: %s (nothing was removed)\n",
                 path.c_str(), storePath.c_str(), Describe(*store, rc).c_str());
    return kExitFailure;
  }
  std::printf("unregistered %s from %s\n", path.c_str(), storePath.c_str());
  return kExitOk;
}

}  // namespace

int RegsvrCommand(const std::vector<std::string>& args, const std::string& storePath) {
  const bool unregister = !args.empty() && (args[0] == "-u" || args[0] == "--unregister");
  const size_t first = unregister ? 1 : 0;
  if (args.size() != first + 1) {
    std::fprintf(stderr, "usage: opos [--registry PATH] regsvr [-u] LIBRARY\n");
    return kExitUsage;
  }
  if (unregister) return Unregister(args[1], storePath);
  std::string why;
  const com::HRESULT hr = com::CallRegisterServer(args[0], &why);
  if (!why.empty()) {
    std::fprintf(stderr, "opos regsvr: %s\n", why.c_str());
    return kExitFailure;
  }
  if (!com::Succeeded(hr)) {
    std::fprintf(stderr, "opos regsvr: DllRegisterServer of %s failed (0x%08X); store %s\n", args[0].c_str(),
                 static_cast<unsigned>(hr), storePath.c_str());
    return kExitFailure;
  }
  std::printf("registered %s in %s\n", args[0].c_str(), storePath.c_str());
  return kExitOk;
}

}  // namespace opos::tool
