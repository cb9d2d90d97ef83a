// libFuzzer target over the virtual printer's ESC/POS parser and printer model.
// Checks, beyond "no crash": every byte is accounted for by exactly one command,
// chunking does not change the commands, stored payloads stay bounded, and the
// model's timers always move forward (the I/O loop could spin otherwise).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tools/vprinter/escpos_parser.h"
#include "tools/vprinter/printer_model.h"

namespace {

using vprinter::Command;
using vprinter::CommandKind;
using vprinter::EscPosParser;

struct Shape {
  CommandKind kind;
  uint64_t offset;
  uint64_t length;
  bool operator==(const Shape&) const = default;
};

void check(bool ok) {
  if (!ok) std::abort();
}

// Non-text commands in order; text runs may split differently at chunk ends.
std::vector<Shape> parse(const uint8_t* data, size_t size, size_t chunk) {
  std::vector<Shape> shapes;
  uint64_t total = 0;
  EscPosParser parser([&](Command&& c) {
    total += c.length;
    check(c.length > 0);
    check(c.data.size() <= EscPosParser::kMaxStoredPayload);
    check(c.kind != CommandKind::Text || c.data.size() <= EscPosParser::kMaxTextRun);
    if (c.kind != CommandKind::Text) shapes.push_back({c.kind, c.offset, c.length});
  });
  for (size_t i = 0; i < size; i += chunk) {
    const size_t n = size - i < chunk ? size - i : chunk;
    parser.Feed(std::span<const uint8_t>(data + i, n));
  }
  check(total + parser.PendingBytes() == size);
  check(parser.Offset() == size);
  return shapes;
}

void run_model(const uint8_t* data, size_t size) {
  using namespace std::chrono_literals;
  vprinter::PrinterConfig config;
  config.bytesPerSecond = 1000 + (size ? data[0] : 0);
  config.drawerAutoClose = 7ms;
  config.captureLimit = 4096;
  config.commandLimit = 256;
  config.commandPayloadBudget = 64 * 1024;
  auto now = vprinter::PrinterModel::Clock::time_point{} + 1h;
  vprinter::PrinterModel model(config, now);
  size_t i = 0;
  while (i < size) {
    const uint8_t op = data[i++];
    const size_t n = op & 0x3F;
    const size_t take = n < size - i ? n : size - i;
    model.Receive(std::span<const uint8_t>(data + i, take), now);
    i += take;
    switch (op >> 6) {
      case 1:
        model.SetCoverOpen((op & 1) != 0, now);
        break;
      case 2:
        model.SetPower((op & 2) == 0, now);
        break;
      case 3:
        model.SetPaperEnd((op & 4) != 0, now);
        break;
      default:
        break;
    }
    now += std::chrono::milliseconds(op & 0x0F);
    model.Advance(now);
    // Jump from deadline to deadline: each must lie beyond the one before.
    for (int step = 0; step < 8; ++step) {
      const std::optional<vprinter::PrinterModel::TimePoint> d = model.NextDeadline();
      if (!d || *d > now + 50ms) break;
      if (*d > now) now = *d;
      model.Advance(now);
      const std::optional<vprinter::PrinterModel::TimePoint> next = model.NextDeadline();
      check(!next || *next > now);
    }
    check(model.TakeReplies().size() <= config.replyLimit);
  }
  check(model.Capture().size() <= config.captureLimit);
  check(model.Commands().size() <= config.commandLimit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<Shape> whole = parse(data, size, size ? size : 1);
  const size_t chunk = size ? (data[size - 1] % 13) + 1 : 1;
  check(parse(data, size, chunk) == whole);
  run_model(data, size);
  return 0;
}
