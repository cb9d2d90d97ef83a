// The `opos run` script parser. An accepted script gives commands in line
// order, each from a line that parses alone as well; a refused one names its
// line. Integer literals read back to the same value from their decimal form.
#include <algorithm>

#include "fuzz/fuzz_input.h"
#include "tools/opos/script.h"

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const bool drawer = in.flag();
  const std::string text = in.rest();
  std::vector<opos::tool::Command> commands;
  std::string error;
  const auto cls = drawer ? opos::control::DeviceClass::CashDrawer : opos::control::DeviceClass::POSPrinter;
  const int lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
  if (!opos::tool::ParseScript(text, cls, "Device", &commands, &error)) {
    check(error.compare(0, 5, "line ") == 0);
    return 0;
  }
  int last = 0;
  for (const opos::tool::Command& c : commands) {
    check(c.line > last && c.line <= lines);
    last = c.line;
    if (c.kind == opos::tool::Command::kCall) check(!c.member.empty());
  }
  // Each line alone, and each integer-looking token.
  size_t pos = 0;
  for (int n = 1; pos <= text.size() && n <= 64; ++n) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the script reader takes CR LF
    pos = end + 1;
    std::optional<opos::tool::Command> one;
    std::string why;
    check(opos::tool::ParseLine(line, n, &one, &why));
    int32_t v = 0;
    const std::string token = line.substr(0, line.find(' '));
    if (opos::tool::ParseInt32(token, &v)) {
      int32_t again = 0;
      check(opos::tool::ParseInt32(std::to_string(v), &again) && again == v);
    }
  }
  return 0;
}
