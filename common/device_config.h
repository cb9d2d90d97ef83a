// The per-device configuration record that OpenService reads from the registry.
#pragma once

#include <cstdint>
#include <string>

namespace opos {

struct DeviceConfig {
  std::string Port;  // "Port", or "SymbolicLink" for USB devices
  int32_t Baudrate = 0, BitLength = 0, Parity = 0, Stop = 0, XonXoff = 0, HandShake = 0;
  int32_t InputBuf = 1024;
  int32_t OutputBuf = 1024;
  int32_t InputSleep = 24;
  int32_t ImageSleep = 24;
  int32_t ConnectorPinNo = 0;  // drawer only
  int32_t OpenLevel = 1;       // drawer only
  std::string DspPort;         // printer only (serial)
  // "WritePacing" (parallel and USB): bytes per write chunk and the pause
  // after each; -1 keeps the library's pacing, chunk 0 writes as much as the
  // device takes at once.
  int32_t WriteChunk = -1;
  int32_t WritePauseMs = -1;
  std::string DeviceName;     // model name, handed to the port object
  std::string ConfigKeyPath;  // device key that OpenService used
  std::string TraceFile;      // "TraceFile": the field trace's file; "" off (OPOS_TRACE wins)
};

// The "WritePacing" value of a parallel or USB device: "CHUNK[,PAUSE]", CHUNK
// bytes per write (0: as much as the device takes at once) and PAUSE
// milliseconds after each (omitted: 0). False, with the fields untouched,
// for any other text.
inline constexpr const char* kWritePacingValue = "WritePacing";
inline constexpr int32_t kMaxWriteChunk = 1 << 20;
inline constexpr int32_t kMaxWritePauseMs = 1000;

inline bool ParseWritePacing(const std::string& text, int32_t* chunk, int32_t* pauseMs) {
  auto bounded = [](const std::string& digits, int32_t max, int32_t* out) {
    if (digits.empty() || digits.size() > 9) return false;
    int32_t v = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    *out = v;
    return true;
  };
  const size_t comma = text.find(',');
  int32_t c = 0, p = 0;
  if (!bounded(text.substr(0, comma), kMaxWriteChunk, &c)) return false;
  if (comma != std::string::npos && !bounded(text.substr(comma + 1), kMaxWritePauseMs, &p)) return false;
  *chunk = c;
  *pauseMs = p;
  return true;
}

}  // namespace opos
