// Reader for INI-syntax files (the model definition files) with the rules of
// the Windows profile-string reader: "[Section]" lines, "Key=Value" lines,
// section and key names compared without regard to ASCII case, the first match
// wins, surrounding blanks dropped, and one pair of matching quotes around a whole
// value dropped. Like that reader it skips lines that are neither a section
// nor a key line (and keys before the first section), ends a line at a NUL,
// and cuts a value at kMaxValueLength characters; whether the keys a device
// needs are there is for the caller to check.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace opos::setup {

class IniFile {
 public:
  // The profile-string buffer the model files are read with holds 255 characters.
  static constexpr size_t kMaxValueLength = 255;
  // A model file is a few hundred bytes; refuse anything absurdly large outright.
  static constexpr size_t kMaxFileSize = 1 << 20;

  // Fails, with *error naming the path, only for a file that cannot be
  // opened or read, is not a regular file (a FIFO would block) or is too large.
  static std::optional<IniFile> Load(const std::string& path, std::string* error);
  static IniFile Parse(const std::string& text);

  bool HasSection(const std::string& section) const;
  // False when the section or the key is absent.
  bool Get(const std::string& section, const std::string& key, std::string* value) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* Find(const std::string& section) const;

  std::vector<Section> sections_;
};

}  // namespace opos::setup
