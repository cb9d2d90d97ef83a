// The status-byte decoder over what the printer sends back: Automatic Status
// Back reports, DLE EOT replies and process-ID replies, mixed, then cut into
// reads at fuzzed points (and raw fuzzed bytes besides). For every read: a
// whole process-ID reply in it is seen; a read that ends with a whole ASB
// report (the messages before it whole as well) decodes to that report's
// cover, paper and drawer bits; anything else is decoded without a crash.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "transport/port_status.h"

using fuzz::check;

namespace {

enum Kind : uint8_t { kAsb, kRealTime, kProcessId };

struct Message {
  Kind kind;
  std::vector<uint8_t> bytes;
  bool cover = false, paper = false, sensorLow = false;
};

Message Make(fuzz::Input& in) {
  const uint8_t k = in.byte();
  Message m;
  switch (k % 3) {
    case kAsb: {
      m.kind = kAsb;
      m.cover = (k & 0x04) != 0;
      m.paper = (k & 0x08) != 0;
      m.sensorLow = (k & 0x10) != 0;
      const uint8_t extra = in.byte();
      // Byte 1: xxx1 xx00 with the fixed bits; 2..4: xxx0 xxxx.
      uint8_t b0 = 0x10 | (m.sensorLow ? 0 : 0x04) | (m.cover ? 0x20 : 0) | (extra & 0x48);
      uint8_t b2 = m.paper ? static_cast<uint8_t>(0x0C & (extra | 0x04)) : 0;
      m.bytes = {b0, static_cast<uint8_t>(in.byte() & 0x6F), b2, static_cast<uint8_t>(in.byte() & 0x0F)};
      break;
    }
    case kRealTime:
      m.kind = kRealTime;
      m.bytes = {static_cast<uint8_t>(0x12 | (in.byte() & 0x6C))};  // xxx1 xx10
      break;
    default:
      m.kind = kProcessId;
      m.bytes.assign(std::begin(opos::kProcessIdResponse), std::end(opos::kProcessIdResponse));
      break;
  }
  return m;
}

bool Contains(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Raw bytes as one read: no crash, no read past the end.
  (void)opos::ScanStatus(data, size);

  fuzz::Input in(data, size);
  std::vector<Message> messages;
  while (!in.empty() && messages.size() < 64) messages.push_back(Make(in));
  // One read per run of messages; a fuzzed cut may split a message between reads.
  size_t next = 0;
  fuzz::Input cuts(data, size);
  while (next < messages.size()) {
    const size_t count = 1 + cuts.byte() % 4;
    const size_t end = std::min(messages.size(), next + count);
    std::vector<uint8_t> read;
    for (size_t i = next; i < end; ++i)
      read.insert(read.end(), messages[i].bytes.begin(), messages[i].bytes.end());
    const uint8_t cut = cuts.byte();
    const bool split = (cut & 0x80) && read.size() > 1;
    if (split) read.resize(1 + cut % (read.size() - 1));
    const opos::StatusScan scan = opos::ScanStatus(read.data(), read.size());
    const std::vector<uint8_t> id(std::begin(opos::kProcessIdResponse), std::end(opos::kProcessIdResponse));
    if (Contains(read, id)) check(scan.processIdSeen);
    if (!split && messages[end - 1].kind == kAsb) {
      const Message& last = messages[end - 1];
      check(scan.hasReport);
      check(scan.report.coverOpen == last.cover && scan.report.paperEnd == last.paper &&
            scan.report.drawerSensorLow == last.sensorLow);
    }
    next = end;
  }
  return 0;
}
