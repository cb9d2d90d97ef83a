// The model-file (INI) reader. A file it accepts answers for every key line it
// holds, under its section, in any letter case, with a value of at most 255
// characters; a refused file names its line.
#include <cctype>
#include <set>

#include "fuzz/fuzz_input.h"
#include "setup/ini_file.h"

using fuzz::check;

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Flip(std::string s) {
  for (char& c : s) {
    const auto u = static_cast<unsigned char>(c);
    c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Like the profile reader, the parser takes any text: junk lines are skipped.
  const std::optional<opos::setup::IniFile> ini = opos::setup::IniFile::Parse(text);
  // Walk the lines the simple way; only plain lines are checked (a blank that
  // the reader trims differently is left to it).
  std::string section;
  bool inSection = false;
  std::set<std::string> seen;  // lower-cased section names: the first of a name wins
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    line = line.substr(0, line.find('\0'));  // a NUL ends the line
    pos = end + 1;
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      const size_t close = t.find(']');
      if (close == std::string::npos) continue;  // junk: the section goes on
      section = Trim(t.substr(1, close - 1));
      inSection = seen.insert(Lower(section)).second;
      check(ini->HasSection(section) && ini->HasSection(Flip(section)));
      continue;
    }
    if (t.find('=') == std::string::npos) continue;  // junk line
    const std::string key = Trim(t.substr(0, t.find('=')));
    if (!inSection || key.empty() || key != t.substr(0, t.find('='))) continue;
    std::string value;
    check(ini->Get(section, key, &value));
    check(value.size() <= opos::setup::IniFile::kMaxValueLength);
    std::string again;
    check(ini->Get(Flip(section), Flip(key), &again) && again == value);
  }
  return 0;
}
