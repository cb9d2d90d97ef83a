#include "setup/ini_file.h"

#include <algorithm>

#include "platform/regular_file.h"

#include "setup/text.h"

namespace opos::setup {

std::optional<IniFile> IniFile::Load(const std::string& path, std::string* error) {
  platform::RegularFile in;
  switch (in.Open(path)) {
    case platform::RegularFile::Status::kOk:
      break;
    case platform::RegularFile::Status::kCannotOpen:
      *error = "cannot open \"" + path + "\"";
      return std::nullopt;
    case platform::RegularFile::Status::kNotRegular:
      *error = "\"" + path + "\" is not a regular file";
      return std::nullopt;
  }
  if (in.Size() > kMaxFileSize) {
    *error = "\"" + path + "\" is too large for a model definition file";
    return std::nullopt;
  }
  std::string text(static_cast<size_t>(in.Size()), '\0');
  if (!in.ReadFully(text.data(), text.size())) {
    *error = "cannot read \"" + path + "\"";
    return std::nullopt;
  }
  return Parse(text);
}

IniFile IniFile::Parse(const std::string& text) {
  IniFile file;
  size_t pos = 0;
  if (StartsWith(text, "\xEF\xBB\xBF")) pos = 3;  // UTF-8 byte order mark
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(pos, end - pos);
    pos = end + 1;
    // The profile reader's strings end at a NUL: the rest of the line is not there.
    raw.resize(std::min(raw.size(), raw.find('\0')));
    std::string line = TrimSpaces(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos) file.sections_.push_back({TrimSpaces(line.substr(1, close - 1)), {}});
      continue;  // a header without ']' is skipped like any other junk line
    }
    // Junk (no '=', no key name, a key before the first section) is skipped.
    const size_t eq = line.find('=');
    if (eq == std::string::npos || file.sections_.empty()) continue;
    std::string key = TrimSpaces(line.substr(0, eq));
    if (key.empty()) continue;
    std::string value = TrimSpaces(line.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    // What does not fit the reader's buffer is cut off.
    if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
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

bool IniFile::HasSection(const std::string& section) const {
  return Find(section) != nullptr;
}

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
