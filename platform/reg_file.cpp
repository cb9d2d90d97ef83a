#include "platform/reg_file.h"

#include <algorithm>
#include <cstdio>

namespace opos::reg::regfile {

namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";

std::string LinePrefix(int line) {
  return "line " + std::to_string(line) + ": ";
}

std::string CodePoint(uint32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

std::string NotEightBit(int line, uint32_t cp) {
  return LinePrefix(line) + "character " + CodePoint(cp) + " cannot be stored as 8-bit text";
}

// Regedit writes UTF-16LE; the store keeps 8-bit text, so every character must
// fit in one byte.
bool DecodeUtf16(const std::string& in, size_t from, std::string* out, std::string* error) {
  if ((in.size() - from) % 2 != 0) {
    *error = "UTF-16 text with an odd number of bytes";
    return false;
  }
  out->clear();
  out->reserve((in.size() - from) / 2);
  int line = 1;
  for (size_t i = from; i < in.size(); i += 2) {
    uint32_t unit = static_cast<uint8_t>(in[i]) | (static_cast<uint8_t>(in[i + 1]) << 8);
    if (unit > 0xFF) {
      *error = NotEightBit(line, unit);
      return false;
    }
    if (unit == '\n') ++line;
    out->push_back(static_cast<char>(unit));
  }
  return true;
}

bool DecodeUtf8(const std::string& in, size_t from, std::string* out, std::string* error) {
  out->clear();
  out->reserve(in.size() - from);
  int line = 1;
  size_t i = from;
  while (i < in.size()) {
    uint8_t b = static_cast<uint8_t>(in[i]);
    uint32_t cp;
    size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      *error = LinePrefix(line) + "invalid UTF-8";
      return false;
    }
    if (i + len > in.size()) {
      *error = LinePrefix(line) + "invalid UTF-8";
      return false;
    }
    for (size_t k = 1; k < len; ++k) {
      uint8_t c = static_cast<uint8_t>(in[i + k]);
      if ((c & 0xC0) != 0x80) {
        *error = LinePrefix(line) + "invalid UTF-8";
        return false;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms would let one character hide as another.
    static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len]) {
      *error = LinePrefix(line) + "invalid UTF-8";
      return false;
    }
    if (cp > 0xFF) {
      *error = NotEightBit(line, cp);
      return false;
    }
    if (cp == '\n') ++line;
    out->push_back(static_cast<char>(cp));
    i += len;
  }
  return true;
}

bool Decode(const std::string& in, std::string* out, std::string* error) {
  auto starts = [&](const char* bom, size_t n) { return in.size() >= n && in.compare(0, n, bom, n) == 0; };
  if (starts("\xFF\xFE", 2)) return DecodeUtf16(in, 2, out, error);
  if (starts("\xFE\xFF", 2)) {
    *error = "UTF-16 big-endian text is not supported; save the file as UTF-16LE or UTF-8";
    return false;
  }
  if (starts("\xEF\xBB\xBF", 3)) return DecodeUtf8(in, 3, out, error);
  *out = in;  // 8-bit text as it stands
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

bool AllSpace(const std::string& s, size_t from) {
  for (size_t i = from; i < s.size(); ++i) {
    if (!IsSpace(s[i])) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(const std::string& s, size_t pos, const char* prefix) {
  for (size_t k = 0; prefix[k]; ++k) {
    if (pos + k >= s.size()) return false;
    char c = s[pos + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[k]) return false;
  }
  return true;
}

// Reads a quoted string starting at s[*pos] == '"'; only \\ and \" are escapes,
// as regedit writes them. Leaves *pos after the closing quote.
bool ReadQuoted(const std::string& s, size_t* pos, std::string* out, const char* what, int line,
                std::string* error) {
  out->clear();
  size_t i = *pos + 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
        out->push_back(s[i + 1]);
        i += 2;
        continue;
      }
      *error = LinePrefix(line) + "unknown escape in " + what +
               " (only \\\\ and \\\" are escapes; write \\\\ for a backslash)";
      return false;
    }
    out->push_back(c);
    ++i;
  }
  *error = LinePrefix(line) + std::string(what) + " lacks its closing quote";
  return false;
}

// Comma-separated bytes of a hex value, continuation lines already joined.
bool ParseHexList(const std::string& list, std::vector<uint8_t>* out, int line, std::string* error) {
  out->clear();
  if (AllSpace(list, 0)) return true;
  size_t i = 0;
  for (;;) {
    while (i < list.size() && IsSpace(list[i])) ++i;
    int hi = i < list.size() ? HexDigit(list[i]) : -1;
    int lo = i + 1 < list.size() ? HexDigit(list[i + 1]) : -1;
    if (hi < 0) {
      *error = LinePrefix(line) + "expected a hex byte in value data";
      return false;
    }
    if (lo < 0) {
      out->push_back(static_cast<uint8_t>(hi));
      i += 1;
    } else {
      out->push_back(static_cast<uint8_t>(hi * 16 + lo));
      i += 2;
    }
    while (i < list.size() && IsSpace(list[i])) ++i;
    if (i == list.size()) return true;
    if (list[i] != ',') {
      *error = LinePrefix(line) + "expected a comma between hex bytes";
      return false;
    }
    ++i;
  }
}

bool IsStringType(uint32_t type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

struct Section {
  bool open = false;
  bool deleted = false;
  Root root = Root::LocalMachine;
  std::string path;
};

bool ParseSection(const std::string& trimmed, int line, Section* sec, std::vector<Op>* ops,
                  std::string* error) {
  std::string body = TrimRight(trimmed);
  if (body.size() < 2 || body.back() != ']') {
    *error = LinePrefix(line) + "key section lacks its closing ]";
    return false;
  }
  body = body.substr(1, body.size() - 2);
  bool del = !body.empty() && body[0] == '-';
  if (del) body.erase(0, 1);
  size_t slash = body.find('\\');
  std::string rootName = body.substr(0, slash);
  std::string path = slash == std::string::npos ? std::string() : body.substr(slash + 1);
  if (slash != std::string::npos && path.empty()) {
    *error = LinePrefix(line) + "invalid key path: empty key name after \\";
    return false;
  }
  Root root;
  if (!ParseRootName(rootName, &root)) {
    *error = LinePrefix(line) + "unknown root key \"" + rootName +
             "\" (the store keeps HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT)";
    return false;
  }
  if (del && path.empty()) {
    *error = LinePrefix(line) + "a root key cannot be deleted";
    return false;
  }
  sec->open = true;
  sec->deleted = del;
  sec->root = root;
  sec->path = path;
  Op op;
  op.kind = del ? Op::kDeleteTree : Op::kCreateKey;
  op.root = root;
  op.path = path;
  op.line = line;
  ops->push_back(std::move(op));
  return true;
}

}  // namespace

bool Parse(const std::string& text, std::vector<Op>* ops, std::string* error) {
  ops->clear();
  std::string decoded;
  if (!Decode(text, &decoded, error)) return false;

  std::vector<std::string> lines;
  for (size_t start = 0; start <= decoded.size();) {
    size_t end = decoded.find('\n', start);
    if (end == std::string::npos) end = decoded.size();
    std::string l = decoded.substr(start, end - start);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(std::move(l));
    start = end + 1;
  }
  // The line break that ends the last line does not start another.
  if (lines.size() > 1 && lines.back().empty() && !decoded.empty() && decoded.back() == '\n') {
    lines.pop_back();
  }

  size_t n = 0;
  while (n < lines.size() && AllSpace(lines[n], 0)) ++n;
  std::string header = n < lines.size() ? TrimRight(TrimLeft(lines[n])) : std::string();
  bool unicode = header == kHeader5;
  if (!unicode && header != kHeader4) {
    *error = LinePrefix(static_cast<int>(std::min(n, lines.size() - 1)) + 1) +
             "not a registry file: expected \"" + kHeader5 + "\" or \"" + kHeader4 + "\"";
    return false;
  }

  Section sec;
  for (++n; n < lines.size(); ++n) {
    int line = static_cast<int>(n) + 1;
    std::string l = TrimLeft(lines[n]);
    if (l.empty() || l[0] == ';') continue;
    if (l[0] == '[') {
      if (!ParseSection(l, line, &sec, ops, error)) return false;
      continue;
    }
    if (l[0] != '"' && l[0] != '@') {
      *error = LinePrefix(line) + "expected a [key] section, a value or a ; comment";
      return false;
    }
    if (!sec.open) {
      *error = LinePrefix(line) + "value before the first [key] section";
      return false;
    }
    if (sec.deleted) {
      *error = LinePrefix(line) + "value in a section that deletes its key";
      return false;
    }
    Op op;
    op.root = sec.root;
    op.path = sec.path;
    op.line = line;
    size_t pos = 0;
    if (l[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(l, &pos, &op.value.name, "value name", line, error)) {
      return false;
    }
    while (pos < l.size() && IsSpace(l[pos])) ++pos;
    if (pos >= l.size() || l[pos] != '=') {
      *error = LinePrefix(line) + "expected = after the value name";
      return false;
    }
    ++pos;
    while (pos < l.size() && IsSpace(l[pos])) ++pos;

    if (pos < l.size() && l[pos] == '-' && AllSpace(l, pos + 1)) {
      op.kind = Op::kDeleteValue;
    } else if (pos < l.size() && l[pos] == '"') {
      std::string textData;
      if (!ReadQuoted(l, &pos, &textData, "string data", line, error)) return false;
      if (!AllSpace(l, pos)) {
        *error = LinePrefix(line) + "unexpected text after the closing quote";
        return false;
      }
      op.kind = Op::kSetValue;
      op.value.type = REG_SZ;
      op.value.data = SzData(textData);
    } else if (StartsWithNoCase(l, pos, "dword:")) {
      pos += 6;
      std::string digits = TrimRight(l.substr(pos));
      uint32_t v = 0;
      bool ok = !digits.empty() && digits.size() <= 8;
      for (char c : digits) {
        int d = HexDigit(c);
        if (d < 0) ok = false;
        v = (v << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
      }
      if (!ok) {
        *error = LinePrefix(line) + "dword data must be 1 to 8 hex digits";
        return false;
      }
      op.kind = Op::kSetValue;
      op.value.type = REG_DWORD;
      op.value.data = DwordData(v);
    } else if (StartsWithNoCase(l, pos, "hex")) {
      pos += 3;
      uint32_t type = REG_BINARY;
      if (pos < l.size() && l[pos] == '(') {
        size_t close = l.find(')', pos);
        std::string digits = close == std::string::npos ? std::string() : l.substr(pos + 1, close - pos - 1);
        bool ok = !digits.empty() && digits.size() <= 8;
        type = 0;
        for (char c : digits) {
          int d = HexDigit(c);
          if (d < 0) ok = false;
          type = (type << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
        }
        if (!ok) {
          *error = LinePrefix(line) + "hex(N) needs a type number of 1 to 8 hex digits";
          return false;
        }
        pos = close + 1;
      }
      if (pos >= l.size() || l[pos] != ':') {
        *error = LinePrefix(line) + "expected : after hex";
        return false;
      }
      std::string list = TrimRight(l.substr(pos + 1));
      // A trailing backslash continues the byte list on the next line.
      while (!list.empty() && list.back() == '\\') {
        list.pop_back();
        if (n + 1 >= lines.size()) {
          *error = LinePrefix(line) + "file ends inside a continued line";
          return false;
        }
        ++n;
        list += TrimRight(TrimLeft(lines[n]));
      }
      std::vector<uint8_t> bytes;
      if (!ParseHexList(list, &bytes, line, error)) return false;
      if (unicode && IsStringType(type)) {
        // Version 5 files hold string types as UTF-16LE, the store as 8-bit text.
        if (bytes.size() % 2 != 0) {
          *error = LinePrefix(line) + "hex(" + std::to_string(type) +
                   ") data is UTF-16 in this file format and needs an even number of bytes";
          return false;
        }
        std::vector<uint8_t> narrow;
        narrow.reserve(bytes.size() / 2);
        for (size_t i = 0; i < bytes.size(); i += 2) {
          uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
          if (unit > 0xFF) {
            *error = NotEightBit(line, unit);
            return false;
          }
          narrow.push_back(static_cast<uint8_t>(unit));
        }
        bytes = std::move(narrow);
      }
      op.kind = Op::kSetValue;
      op.value.type = type;
      op.value.data = std::move(bytes);
    } else {
      *error = LinePrefix(line) + "unrecognised value data (expected \"text\", dword:, hex: or -)";
      return false;
    }
    ops->push_back(std::move(op));
  }
  return true;
}

std::string Header() {
  return std::string(kHeader5) + "\n\n";
}

namespace {

std::string Quote(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') q.push_back('\\');
    q.push_back(c);
  }
  q.push_back('"');
  return q;
}

bool HasLineBreak(const std::string& s) {
  return s.find_first_of("\r\n") != std::string::npos;
}

// REG_SZ data that reads back byte for byte from the "text" form.
bool IsPlainText(const Value& v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0) return false;
  for (size_t i = 0; i + 1 < v.data.size(); ++i) {
    uint8_t c = v.data[i];
    if (c == 0 || c == '\r' || c == '\n') return false;
  }
  return true;
}

// Byte list wrapped as regedit does: lines of at most 80 columns, "\" to continue.
void AppendHex(std::string* out, size_t column, const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    if (column + (last ? 2 : 3) > 77) {
      *out += "\\\n  ";
      column = 2;
    }
    out->push_back(kDigits[bytes[i] >> 4]);
    out->push_back(kDigits[bytes[i] & 15]);
    column += 2;
    if (!last) {
      out->push_back(',');
      ++column;
    }
  }
}

}  // namespace

bool AppendKey(std::string* out, Root root, const std::string& path, const std::vector<Value>& values,
               std::string* error) {
  if (HasLineBreak(path)) {
    *error = "key name holds a line break";
    return false;
  }
  std::string s = "[" + std::string(RootName(root)) + (path.empty() ? "" : "\\" + path) + "]\n";
  for (const Value& v : values) {
    if (HasLineBreak(v.name)) {
      *error = "value name holds a line break";
      return false;
    }
    size_t lineStart = s.size();
    s += v.name.empty() ? "@" : Quote(v.name);
    s += '=';
    if (IsPlainText(v)) {
      s += Quote(std::string(v.data.begin(), v.data.end() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x",
                    static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                          (static_cast<uint32_t>(v.data[3]) << 24)));
      s += buf;
    } else {
      char buf[24];
      if (v.type == REG_BINARY) {
        std::snprintf(buf, sizeof buf, "hex:");
      } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
      }
      s += buf;
      if (IsStringType(v.type)) {
        std::vector<uint8_t> wide;
        wide.reserve(v.data.size() * 2);
        for (uint8_t b : v.data) {
          wide.push_back(b);
          wide.push_back(0);
        }
        AppendHex(&s, s.size() - lineStart, wide);
      } else {
        AppendHex(&s, s.size() - lineStart, v.data);
      }
    }
    s += '\n';
  }
  s += '\n';
  *out += s;
  return true;
}

}  // namespace opos::reg::regfile
