// Reader for INI-syntax files (the model definition files) with the lookup rules
// of the Windows profile-string reader: "[Section]" lines, "Key=Value" lines,
// section and key names compared without regard to ASCII case, the first match
// wins, surrounding blanks dropped, and one pair of matching quotes around a whole
// value dropped.
//
// Unlike that reader it does not guess at broken files: a line that is neither
// blank, a comment (";" first), a section nor a key line, a key before the
// first section, a NUL byte, or a value longer than kMaxValueLength makes Load
// fail with the file name and line number, so a damaged model file is reported
// instead of yielding a half-filled device.
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

  static std::optional<IniFile> Load(const std::string& path, std::string* error);
  static std::optional<IniFile> Parse(const std::string& text, const std::string& name,
                                      std::string* error);

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
