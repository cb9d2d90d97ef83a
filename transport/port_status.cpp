#include "transport/port_status.h"

#include <algorithm>
#include <array>
#include <vector>

namespace opos {

StatusScan ScanStatus(const uint8_t* data, size_t length) {
  StatusScan scan;
  if (data == nullptr) return scan;
  std::vector<uint8_t> rest;
  rest.reserve(length);
  constexpr size_t kIdLength = sizeof kProcessIdResponse;
  for (size_t i = 0; i < length;) {
    if (length - i >= kIdLength && std::equal(kProcessIdResponse, kProcessIdResponse + kIdLength, data + i)) {
      scan.processIdSeen = true;
      i += kIdLength;
    } else {
      rest.push_back(data[i++]);
    }
  }
  if (rest.size() >= 4) {
    const uint8_t* r = rest.data() + rest.size() - 4;
    scan.hasReport = true;
    scan.report.drawerSensorLow = (r[0] & 0x04) == 0;
    scan.report.coverOpen = (r[0] & 0x20) != 0;
    scan.report.paperEnd = (r[2] & 0x0C) != 0;
  }
  return scan;
}

}  // namespace opos
