#include "printer/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "printer/code_page_tables.h"

namespace opos {
namespace {

constexpr char kReplacement = '?';

// Length of the UTF-8 sequence at s[i] and its code point; 0 when malformed.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  const auto b0 = static_cast<uint8_t>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  size_t len = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

char EncodeSingleByte(const SingleBytePage& page, char32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  const CodePageEntry* end = page.encode + page.encodeCount;
  const CodePageEntry* e = std::lower_bound(page.encode, end, cp,
                                            [](const CodePageEntry& x, char32_t c) { return x.unicode < c; });
  return e != end && e->unicode == cp ? static_cast<char>(e->byte) : kReplacement;
}

// In place: the output is never longer than the UTF-8 it comes from.
void ToSingleByte(const SingleBytePage& page, std::string& bytes) {
  size_t w = 0;
  for (size_t r = 0; r < bytes.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(bytes, r, cp);
    bytes[w++] = EncodeSingleByte(page, cp);
    r += len;
  }
  bytes.resize(w);
}

const char* IconvName(uint8_t table) {
  switch (table) {
    case 252:
      return "CP950";
    case 253:
      return "CP936";
    case 254:
      return "CP932";
    case 255:
      return "CP949";
    default:
      return nullptr;
  }
}

// Character by character, so that one the page lacks becomes '?' and the
// rest still converts.
bool ToDoubleByte(const char* name, std::string& bytes) {
  iconv_t cd = iconv_open(name, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out;
  out.reserve(bytes.size());
  for (size_t r = 0; r < bytes.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(bytes, r, cp);
    if (len == 1) {
      out.push_back(bytes[r]);
    } else {
      char in[4];
      char buf[8];
      std::memcpy(in, bytes.data() + r, len);
      char* inp = in;
      size_t inLeft = len;
      char* outp = buf;
      size_t outLeft = sizeof buf;
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        out.push_back(kReplacement);
      } else {
        out.append(buf, sizeof buf - outLeft);
      }
    }
    r += len;
  }
  iconv_close(cd);
  bytes = std::move(out);
  return true;
}

}  // namespace

bool IsAscii(std::string_view bytes) {
  // Eight bytes at a time: this scan is all that plain ASCII text costs.
  constexpr uint64_t kHighBits = 0x8080808080808080ULL;
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    if (word & kHighBits) return false;
  }
  for (; i < bytes.size(); ++i) {
    if (static_cast<uint8_t>(bytes[i]) & 0x80) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const size_t len = DecodeUtf8(bytes, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void Utf8ToCodeTable(uint8_t table, std::string& bytes) {
  if (IsAscii(bytes) || !IsValidUtf8(bytes)) return;
  if (const SingleBytePage* page = FindSingleBytePage(table)) {
    ToSingleByte(*page, bytes);
    return;
  }
  if (const char* name = IconvName(table)) (void)ToDoubleByte(name, bytes);
}

int32_t PrintArgumentBytes(const PrintProperties& props, std::string_view data, std::string& out) {
  const int32_t rc = ApplyBinaryConversion(props.BinaryConversion, data, out);
  if (rc == OPOS_SUCCESS && props.BinaryConversion == OPOS_BC_NONE) Utf8ToCodeTable(props.CodeTable, out);
  return rc;
}

}  // namespace opos
