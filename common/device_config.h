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
  std::string DeviceName;      // model name, handed to the port object
  std::string ConfigKeyPath;   // device key that OpenService used
  std::string TraceFile;       // "TraceFile": the field trace's file; "" off (OPOS_TRACE wins)
};

}  // namespace opos
