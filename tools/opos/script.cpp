#include "tools/opos/script.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>

#include "tools/opos/text_escapes.h"

namespace opos::tool {

using control::DeviceClass;

namespace {

struct Token {
  bool quoted = false;
  std::string text;  // quoted: the decoded bytes
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool Tokenize(const std::string& s, std::vector<Token>* out, std::string* error) {
  size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    if (s[i] == '#') break;
    Token t;
    if (s[i] == '"') {
      std::string raw;
      size_t j = i + 1;
      bool closed = false;
      while (j < s.size()) {
        if (s[j] == '\\' && j + 1 < s.size()) {
          raw.push_back(s[j]);
          raw.push_back(s[j + 1]);
          j += 2;
          continue;
        }
        if (s[j] == '"') {
          closed = true;
          break;
        }
        raw.push_back(s[j++]);
      }
      if (!closed) {
        *error = "string lacks its closing quote";
        return false;
      }
      std::string why;
      if (!DecodeEscapes(raw, &t.text, &why)) {
        *error = "in string " + JsonString(raw) + ": " + why;
        return false;
      }
      t.quoted = true;
      i = j + 1;
      if (i < s.size() && !IsBlank(s[i]) && s[i] != '#') {
        *error = "expected a space after the closing quote";
        return false;
      }
    } else {
      size_t j = i;
      while (j < s.size() && !IsBlank(s[j]) && s[j] != '#') {
        if (s[j] == '"') {
          *error = "unexpected quote in " + JsonString(s.substr(i, j - i + 1));
          return false;
        }
        ++j;
      }
      t.text = s.substr(i, j - i);
      i = j;
    }
    out->push_back(std::move(t));
  }
  return true;
}

bool IsName(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  }
  return true;
}

bool Is(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// A single non-negative millisecond count, or any integer for Answer.
bool OneNumber(const std::vector<Token>& t, const char* what, bool nonNegative, int32_t* out,
               std::string* error) {
  if (t.size() != 2) {
    *error = std::string(what) + " takes one number";
    return false;
  }
  if (t[1].quoted || !ParseInt32(t[1].text, out)) {
    *error =
        std::string(what) + " takes an integer, not " + (t[1].quoted ? JsonString(t[1].text) : t[1].text);
    return false;
  }
  if (nonNegative && *out < 0) {
    *error = std::string(what) + " takes a number of milliseconds of 0 or more";
    return false;
  }
  return true;
}

bool DeviceClassToken(const Token& t, DeviceClass* out, std::string* error) {
  if (t.quoted || !control::ParseDeviceClass(t.text, out)) {
    *error =
        "unknown device class " + (t.quoted ? JsonString(t.text) : t.text) + " (POSPrinter or CashDrawer)";
    return false;
  }
  return true;
}

std::string Plural(size_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

}  // namespace

bool ParseInt32(const std::string& token, int32_t* out) {
  size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '-' || token[i] == '+')) {
    negative = token[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i + 1 < token.size() && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= token.size() || token.size() - i > 16) return false;
  uint64_t v = 0;
  for (; i < token.size(); ++i) {
    const char c = token[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
  }
  if (negative) {
    if (v > 0x80000000ull) return false;
    *out = static_cast<int32_t>(-static_cast<int64_t>(v));
    return true;
  }
  // Hex spells a 32-bit pattern; decimal a signed value.
  if (v > (hex ? 0xFFFFFFFFull : 0x7FFFFFFFull)) return false;
  *out = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

bool ParseLine(const std::string& text, int line, std::optional<Command>* out, std::string* error) {
  out->reset();
  std::vector<Token> t;
  if (!Tokenize(text, &t, error)) return false;
  if (t.empty()) return true;
  if (t[0].quoted || !IsName(t[0].text)) {
    *error = "a line starts with a member name or a command, not " +
             (t[0].quoted ? JsonString(t[0].text) : t[0].text);
    return false;
  }
  Command c;
  c.line = line;
  const std::string& word = t[0].text;
  if (Is(word, "Pump") || Is(word, "Sleep")) {
    c.kind = Is(word, "Pump") ? Command::kPump : Command::kSleep;
    if (!OneNumber(t, Is(word, "Pump") ? "Pump" : "Sleep", true, &c.number, error)) return false;
  } else if (Is(word, "Answer")) {
    c.kind = Command::kAnswer;
    if (!OneNumber(t, "Answer", false, &c.number, error)) return false;
  } else if (Is(word, "Open")) {
    c.kind = Command::kOpen;
    if (t.size() != 3) {
      *error = "Open takes a device class and a device name: Open CashDrawer NAME";
      return false;
    }
    if (!DeviceClassToken(t[1], &c.deviceClass, error)) return false;
    c.device = t[2].text;
  } else if (Is(word, "Select")) {
    c.kind = Command::kSelect;
    if (t.size() == 3) {
      if (!DeviceClassToken(t[1], &c.deviceClass, error)) return false;
      c.hasClass = true;
      c.device = t[2].text;
    } else if (t.size() == 2) {
      c.device = t[1].text;
    } else {
      *error = "Select takes a device name, optionally after its class";
      return false;
    }
  } else {
    c.kind = Command::kCall;
    c.member = word;
    for (size_t k = 1; k < t.size(); ++k) {
      ScriptArg a;
      if (t[k].quoted) {
        a.isString = true;
        a.text = t[k].text;
      } else if (!ParseInt32(t[k].text, &a.number)) {
        *error = "argument " + std::to_string(k) + " of " + word + ": " + t[k].text +
                 " is neither a 32-bit integer nor a \"string\"";
        return false;
      }
      c.args.push_back(std::move(a));
    }
  }
  if ((c.kind == Command::kOpen || c.kind == Command::kSelect) && c.device.empty()) {
    *error = "empty device name";
    return false;
  }
  *out = std::move(c);
  return true;
}

bool ParseScript(const std::string& text, DeviceClass firstClass, const std::string& firstDevice,
                 std::vector<Command>* out, std::string* error) {
  struct Opened {
    DeviceClass cls;
    std::string name;
  };
  std::vector<Opened> opened{{firstClass, firstDevice}};
  DeviceClass current = firstClass;
  out->clear();

  int line = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string l = text.substr(pos, end - pos);
    pos = end + 1;
    ++line;
    if (!l.empty() && l.back() == '\r') l.pop_back();

    std::optional<Command> c;
    std::string why;
    auto fail = [&](const std::string& msg) {
      *error = "line " + std::to_string(line) + ": " + msg;
      return false;
    };
    if (!ParseLine(l, line, &c, &why)) return fail(why);
    if (!c) continue;

    switch (c->kind) {
      case Command::kOpen: {
        bool known = false;
        for (const Opened& o : opened) {
          known |= o.cls == c->deviceClass && strcasecmp(o.name.c_str(), c->device.c_str()) == 0;
        }
        if (!known) opened.push_back({c->deviceClass, c->device});
        current = c->deviceClass;
        break;
      }
      case Command::kSelect: {
        std::vector<const Opened*> match;
        for (const Opened& o : opened) {
          if (strcasecmp(o.name.c_str(), c->device.c_str()) == 0 &&
              (!c->hasClass || o.cls == c->deviceClass)) {
            match.push_back(&o);
          }
        }
        if (match.empty()) return fail("no device " + JsonString(c->device) + " was opened before this line");
        if (match.size() > 1) {
          return fail("both a POSPrinter and a CashDrawer are named " + JsonString(c->device) +
                      "; write Select POSPrinter NAME or Select CashDrawer NAME");
        }
        c->deviceClass = match[0]->cls;
        c->hasClass = true;
        current = match[0]->cls;
        break;
      }
      case Command::kCall: {
        const com::MemberTable& table = control::ControlMembers(current);
        const char* cls = control::DeviceClassName(current);
        int32_t id = 0;
        if (!com::Succeeded(table.Lookup(c->member, &id))) {
          if (Is(c->member, "OpenService")) return fail("OpenService is made by Open; write Open CLASS NAME");
          return fail(std::string(cls) + " has no member " + c->member);
        }
        const com::Member& m = *table.Find(id);
        c->member = m.name;
        if (c->args.size() != m.params.size()) {
          return fail(std::string(m.name) + " takes " + Plural(m.params.size(), "argument") + ", " +
                      std::to_string(c->args.size()) + " given");
        }
        for (size_t k = 0; k < m.params.size(); ++k) {
          const bool wantString = m.params[k] == com::VT::String || m.params[k] == com::VT::StringRef;
          if (wantString != c->args[k].isString) {
            return fail("argument " + std::to_string(k + 1) + " of " + m.name + " must be " +
                        (wantString ? "a \"string\"" : "an integer"));
          }
        }
        break;
      }
      default:
        break;
    }
    out->push_back(std::move(*c));
  }
  return true;
}

}  // namespace opos::tool
