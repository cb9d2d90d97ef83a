#include "platform/registry_names.h"

#include <algorithm>

namespace opos::reg {

std::string Fold(const std::string& name) {
  std::string f(name);
  for (char& c : f) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return f;
}

bool SplitPath(const std::string& path, std::vector<std::string>* segs, std::string* why) {
  segs->clear();
  if (path.empty()) return true;
  if (path.find('\0') != std::string::npos) {
    *why = "a key path cannot hold a NUL byte";
    return false;
  }
  size_t start = 0;
  for (;;) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end == start) {
      *why = "empty key name (leading, trailing or doubled backslash)";
      return false;
    }
    if (end - start > kMaxKeyNameLen) {
      *why = "key name longer than " + std::to_string(kMaxKeyNameLen) + " bytes";
      return false;
    }
    segs->push_back(path.substr(start, end - start));
    if (end == path.size()) return true;
    start = end + 1;
  }
}

bool ValidValueName(const std::string& name, std::string* why) {
  if (name.find('\0') != std::string::npos) {
    *why = "a value name cannot hold a NUL byte";
    return false;
  }
  if (name.size() > kMaxValueNameLen) {
    *why = "value name longer than " + std::to_string(kMaxValueNameLen) + " bytes";
    return false;
  }
  return true;
}

std::vector<uint8_t> SzData(const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.push_back(0);
  return d;
}

std::vector<uint8_t> DwordData(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::string SzText(const std::vector<uint8_t>& data) {
  auto end = std::find(data.begin(), data.end(), uint8_t{0});
  return std::string(data.begin(), end);
}

bool ParseRootName(const std::string& name, Root* root) {
  std::string f = Fold(name);
  if (f == "HKEY_LOCAL_MACHINE" || f == "HKLM") {
    *root = Root::LocalMachine;
    return true;
  }
  if (f == "HKEY_CLASSES_ROOT" || f == "HKCR") {
    *root = Root::ClassesRoot;
    return true;
  }
  return false;
}

const char* RootName(Root root) {
  return root == Root::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CLASSES_ROOT";
}

const Value* FindValue(const std::vector<Value>& values, const std::string& name) {
  const std::string fold = Fold(name);
  for (const Value& v : values) {
    if (v.name.size() == name.size() && Fold(v.name) == fold) return &v;
  }
  return nullptr;
}

}  // namespace opos::reg
