#include "setup/ini_file.h"

#include <fstream>

#include "setup/text.h"

namespace opos::setup {

std::optional<IniFile> IniFile::Load(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open \"" + path + "\"";
    return std::nullopt;
  }
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxFileSize) {
      *error = "\"" + path + "\" is too large for a model definition file";
      return std::nullopt;
    }
  }
  if (in.bad()) {
    *error = "cannot read \"" + path + "\"";
    return std::nullopt;
  }
  return Parse(text, path, error);
}

std::optional<IniFile> IniFile::Parse(const std::string& text, const std::string& name,
                                      std::string* error) {
  IniFile file;
  size_t pos = 0;
  if (StartsWith(text, "\xEF\xBB\xBF")) pos = 3;  // UTF-8 byte order mark
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    *error = "\"" + name + "\" line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (pos < text.size()) {
    ++lineNo;
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(pos, end - pos);
    pos = end + 1;
    if (raw.find('\0') != std::string::npos) return fail("contains a NUL byte");
    std::string line = TrimSpaces(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string::npos) return fail("section header without ']'");
      file.sections_.push_back({TrimSpaces(line.substr(1, close - 1)), {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) return fail("expected [Section] or Key=Value");
    std::string key = TrimSpaces(line.substr(0, eq));
    if (key.empty()) return fail("key name missing before '='");
    if (file.sections_.empty()) return fail("key \"" + key + "\" before the first [Section]");
    std::string value = TrimSpaces(line.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kMaxValueLength) {
      return fail("value of \"" + key + "\" is longer than " + std::to_string(kMaxValueLength) +
                  " characters");
    }
    file.sections_.back().entries.push_back({key, value});
  }
  return file;
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
  for (const Section& s : sections_) {
    if (EqualsNoCase(s.name, section)) return &s;
  }
  return nullptr;
}

bool IniFile::HasSection(const std::string& section) const { return Find(section) != nullptr; }

bool IniFile::Get(const std::string& section, const std::string& key, std::string* value) const {
  const Section* s = Find(section);
  if (s == nullptr) return false;
  for (const Entry& e : s->entries) {
    if (EqualsNoCase(e.key, key)) {
      *value = e.value;
      return true;
    }
  }
  return false;
}

}  // namespace opos::setup
