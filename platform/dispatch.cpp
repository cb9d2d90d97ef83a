#include "platform/dispatch.h"

#include <cstdio>
#include <strings.h>

namespace opos::com {

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", d1, d2, d3, d4[0],
                d4[1], d4[2], d4[3], d4[4], d4[5], d4[6], d4[7]);
  return buf;
}

bool Guid::Parse(const std::string& text, Guid* out) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  static const int kDashes[] = {9, 14, 19, 24};
  std::string hex;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    bool dash = false;
    for (int d : kDashes) dash |= (static_cast<int>(i) == d);
    if (dash) {
      if (text[i] != '-') return false;
      continue;
    }
    if (!isxdigit(static_cast<unsigned char>(text[i]))) return false;
    hex += text[i];
  }
  auto byte = [&](size_t at) { return static_cast<uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)); };
  Guid g;
  g.d1 = static_cast<uint32_t>(std::stoul(hex.substr(0, 8), nullptr, 16));
  g.d2 = static_cast<uint16_t>(std::stoul(hex.substr(8, 4), nullptr, 16));
  g.d3 = static_cast<uint16_t>(std::stoul(hex.substr(12, 4), nullptr, 16));
  for (int i = 0; i < 8; ++i) g.d4[i] = byte(16 + 2 * i);
  *out = g;
  return true;
}

bool Variant::AsLong(int32_t* out) const {
  if (vt == VT::Long) {
    *out = lVal;
    return true;
  }
  if (vt == VT::LongRef && plVal) {
    *out = *plVal;
    return true;
  }
  return false;
}

bool Variant::AsString(std::string* out) const {
  if (vt == VT::String) {
    *out = strVal;
    return true;
  }
  if (vt == VT::StringRef && pstrVal) {
    *out = *pstrVal;
    return true;
  }
  return false;
}

HRESULT MemberTable::Lookup(const std::string& name, int32_t* dispid) const {
  if (!dispid) return E_POINTER;
  for (size_t i = 0; i < members_.size(); ++i) {
    if (strcasecmp(members_[i].name, name.c_str()) == 0) {
      *dispid = static_cast<int32_t>(i + 1);
      return S_OK;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

const Member* MemberTable::Find(int32_t dispid) const {
  if (dispid < 1 || static_cast<size_t>(dispid) > members_.size()) return nullptr;
  return &members_[static_cast<size_t>(dispid) - 1];
}

HRESULT MemberTable::Check(int32_t dispid, const std::vector<Variant>& args) const {
  const Member* m = Find(dispid);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  if (args.size() != m->params.size()) return DISP_E_BADPARAMCOUNT;
  for (size_t i = 0; i < args.size(); ++i) {
    const VT want = m->params[i];
    const VT got = args[i].vt;
    bool ok = false;
    switch (want) {
      case VT::Long:
        ok = got == VT::Long || (got == VT::LongRef && args[i].plVal);
        break;
      case VT::String:
        ok = got == VT::String || (got == VT::StringRef && args[i].pstrVal);
        break;
      case VT::LongRef:
        ok = got == VT::LongRef && args[i].plVal;
        break;
      case VT::StringRef:
        ok = got == VT::StringRef && args[i].pstrVal;
        break;
      case VT::Dispatch:
        ok = got == VT::Dispatch;
        break;
      case VT::Empty:
        ok = false;
        break;
    }
    if (!ok) return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

}  // namespace opos::com
