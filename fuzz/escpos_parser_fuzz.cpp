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
    parser.feed(std::span<const uint8_t>(data + i, n));
  }
  check(total + parser.pending_bytes() == size);
  check(parser.offset() == size);
  return shapes;
}

void run_model(const uint8_t* data, size_t size) {
  using namespace std::chrono_literals;
  vprinter::PrinterConfig config;
  config.bytes_per_second = 1000 + (size ? data[0] : 0);
  config.drawer_auto_close = 7ms;
  config.capture_limit = 4096;
  config.command_limit = 256;
  config.command_payload_budget = 64 * 1024;
  auto now = vprinter::PrinterModel::Clock::time_point{} + 1h;
  vprinter::PrinterModel model(config, now);
  size_t i = 0;
  while (i < size) {
    const uint8_t op = data[i++];
    const size_t n = op & 0x3F;
    const size_t take = n < size - i ? n : size - i;
    model.receive(std::span<const uint8_t>(data + i, take), now);
    i += take;
    switch (op >> 6) {
      case 1:
        model.set_cover_open((op & 1) != 0, now);
        break;
      case 2:
        model.set_power((op & 2) == 0, now);
        break;
      case 3:
        model.set_paper_end((op & 4) != 0, now);
        break;
      default:
        break;
    }
    now += std::chrono::milliseconds(op & 0x0F);
    model.advance(now);
    // Jump from deadline to deadline: each must lie beyond the one before.
    for (int step = 0; step < 8; ++step) {
      const std::optional<vprinter::PrinterModel::TimePoint> d = model.next_deadline();
      if (!d || *d > now + 50ms) break;
      if (*d > now) now = *d;
      model.advance(now);
      const std::optional<vprinter::PrinterModel::TimePoint> next = model.next_deadline();
      check(!next || *next > now);
    }
    check(model.take_replies().size() <= config.reply_limit);
  }
  check(model.capture().size() <= config.capture_limit);
  check(model.commands().size() <= config.command_limit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<Shape> whole = parse(data, size, size ? size : 1);
  const size_t chunk = size ? (data[size - 1] % 13) + 1 : 1;
  check(parse(data, size, chunk) == whole);
  run_model(data, size);
  return 0;
}
