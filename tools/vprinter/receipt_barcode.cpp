#include "tools/vprinter/receipt_barcode.h"

#include <zint.h>

#include <algorithm>
#include <memory>

namespace vprinter {

namespace {

bool AllDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct ZintDeleter {
  void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

BarcodeBars WithError(std::string why) {
  BarcodeBars b;
  b.error = std::move(why);
  return b;
}

BarcodeBars RunZint(int symbology, const std::string& input) {
  std::unique_ptr<zint_symbol, ZintDeleter> sym(ZBarcode_Create());
  if (!sym) return WithError("out of memory");
  sym->symbology = symbology;
  sym->input_mode = DATA_MODE;
  const int rc = ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(input.data()),
                                 static_cast<int>(input.size()));
  if (rc >= ZINT_ERROR) return WithError(sym->errtxt);
  BarcodeBars b;
  // Linear symbols keep their pattern in row 0, eight modules to a byte, lowest bit first.
  const int width = std::clamp(sym->width, 0, static_cast<int>(sizeof sym->encoded_data[0] * 8));
  b.modules.resize(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x)
    b.modules[static_cast<size_t>(x)] = (sym->encoded_data[0][x >> 3] >> (x & 7)) & 1;
  for (const unsigned char* t = sym->text; *t != 0 && t < sym->text + sizeof sym->text; ++t) {
    b.text += static_cast<char>(*t);
  }
  if (b.modules.empty()) return WithError("no bars");
  return b;
}

// The printer checks nothing about the check digit it is given; the renderer drops it
// and lets zint work out the right one, so the picture always scans.
BarcodeBars DigitsSymbol(int symbology, std::string_view data, size_t withoutCheck, size_t withCheck,
                         const char* name) {
  if (!AllDigits(data) || (data.size() != withoutCheck && data.size() != withCheck)) {
    return WithError(std::string(name) + " needs " + std::to_string(withoutCheck) + " or " +
                     std::to_string(withCheck) + " digits");
  }
  return RunZint(symbology, std::string(data.substr(0, withoutCheck)));
}

}  // namespace

std::optional<std::string> UpceFromUpca(std::string_view d) {
  if ((d.size() != 11 && d.size() != 12) || !AllDigits(d) || (d[0] != '0' && d[0] != '1'))
    return std::nullopt;
  // d[1..5] is the maker's number, d[6..10] the item's; the four suppression rules.
  std::string six;
  if (d.substr(4, 2) == "00" && d[3] <= '2' && d.substr(6, 2) == "00") {
    six = {d[1], d[2], d[8], d[9], d[10], d[3]};
  } else if (d.substr(4, 2) == "00" && d.substr(6, 3) == "000") {
    six = {d[1], d[2], d[3], d[9], d[10], '3'};
  } else if (d[5] == '0' && d.substr(6, 4) == "0000") {
    six = {d[1], d[2], d[3], d[4], d[10], '4'};
  } else if (d[5] != '0' && d.substr(6, 4) == "0000" && d[10] >= '5') {
    six = {d[1], d[2], d[3], d[4], d[5], d[10]};
  } else {
    return std::nullopt;
  }
  return std::string(1, d[0]) + six;
}

std::optional<std::string> Code128Text(std::span<const uint8_t> data) {
  if (data.size() < 2 || data[0] != '{' || (data[1] != 'A' && data[1] != 'B' && data[1] != 'C'))
    return std::nullopt;
  std::string out;
  char set = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    const uint8_t b = data[i];
    if (b == '{') {
      if (i + 1 >= data.size()) return std::nullopt;
      const uint8_t f = data[++i];
      switch (f) {
        case 'A':
        case 'B':
        case 'C':
          set = static_cast<char>(f);
          break;
        case '{':
          out += '{';
          break;
        case '1':
        case '2':
        case '3':
        case '4':
        case 'S':
          break;
        default:
          return std::nullopt;
      }
      continue;
    }
    if (set == 'C') {
      if (b > 99) return std::nullopt;
      out += static_cast<char>('0' + b / 10);
      out += static_cast<char>('0' + b % 10);
    } else {
      out += static_cast<char>(b);
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

BarcodeBars EncodeBarcode(int m, std::span<const uint8_t> data) {
  const std::string s(data.begin(), data.end());
  if (s.empty()) return WithError("no data");
  switch (m) {
    case 0:
    case 65:
      return DigitsSymbol(BARCODE_UPCA, s, 11, 12, "UPC-A");
    case 2:
    case 67:
      return DigitsSymbol(BARCODE_EANX, s, 12, 13, "EAN-13");
    case 3:
    case 68:
      return DigitsSymbol(BARCODE_EANX, s, 7, 8, "EAN-8");
    case 1:
    case 66: {
      if (!AllDigits(s)) return WithError("UPC-E needs digits");
      if (s.size() == 6) return RunZint(BARCODE_UPCE, "0" + s);
      if (s.size() == 7 || s.size() == 8) return RunZint(BARCODE_UPCE, s.substr(0, 7));
      const std::optional<std::string> shortForm = UpceFromUpca(s);
      if (!shortForm) return WithError("UPC-E cannot suppress the zeros of " + s);
      return RunZint(BARCODE_UPCE, *shortForm);
    }
    case 4:
    case 69: {
      // A start/stop '*' given with the data is the one zint adds itself.
      std::string body = s;
      if (body.size() >= 2 && body.front() == '*' && body.back() == '*')
        body = body.substr(1, body.size() - 2);
      if (body.empty()) return WithError("no data");
      return RunZint(BARCODE_CODE39, body);
    }
    case 5:
    case 70:
      if (!AllDigits(s) || s.size() % 2 != 0) return WithError("ITF needs an even number of digits");
      return RunZint(BARCODE_C25INTER, s);
    case 6:
    case 71:
      return RunZint(BARCODE_CODABAR, s);
    case 72:
      return RunZint(BARCODE_CODE93, s);
    case 73: {
      const std::optional<std::string> text = Code128Text(data);
      if (!text) return WithError("Code128 data must start with {A, {B or {C");
      return RunZint(BARCODE_CODE128, *text);
    }
    default:
      return WithError("symbology " + std::to_string(m) + " is not drawn");
  }
}

}  // namespace vprinter
