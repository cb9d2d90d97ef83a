// What the printer sends back unasked: Automatic Status Back reports and the
// process-ID response, and the requests that make it send them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace opos {

inline constexpr uint8_t kAsbEnable[] = {0x1D, 0x61, 0xFF};       // GS a 255: ASB for every status
inline constexpr uint8_t kRealTimeStatus[] = {0x10, 0x04, 0x01};  // DLE EOT 1: printer status
// The answer to GS ( H with process ID "FFFF".
inline constexpr uint8_t kProcessIdResponse[] = {0x37, 0x22, 'F', 'F', 'F', 'F', 0x00};

struct AsbReport {
  bool drawerSensorLow = false;  // drawer-kick connector pin 3 low (bit 2 of byte 1 clear)
  bool coverOpen = false;        // bit 5 of byte 1
  bool paperEnd = false;         // bit 2 or 3 of byte 3 (roll paper end)
};

struct StatusScan {
  bool processIdSeen = false;
  bool hasReport = false;
  AsbReport report;
};

// Decodes one status read. Every process-ID response in it is recognised
// and taken out first, so that its bytes are never mistaken for an ASB
// report ("FFF" would read as paper end); of what is left, the last four
// bytes are the latest ASB report. Fewer than four bytes left: no report.
[[nodiscard]] StatusScan ScanStatus(const uint8_t* data, size_t length);

}  // namespace opos
