#include "service/config_reader.h"

namespace opos {

using reg::Root;

int32_t ReadNumber(reg::Store& store, const std::string& path, const std::string& name, int32_t def) {
  if (store.KeyExists(Root::LocalMachine, path) != reg::kOk) {
    // The primitive creates a missing key (only ever a class key); a key that
    // cannot be opened at all reads as 0.
    if (store.CreateKey(Root::LocalMachine, path) != reg::kOk) return 0;
  }
  reg::Value v;
  if (store.QueryValue(Root::LocalMachine, path, name, &v) != reg::kOk) return def;
  // Exactly four bytes; fewer is not a supported form and counts as absent.
  if (v.data.size() != 4) return def;
  const uint32_t u = static_cast<uint32_t>(v.data[0]) | static_cast<uint32_t>(v.data[1]) << 8 |
                     static_cast<uint32_t>(v.data[2]) << 16 | static_cast<uint32_t>(v.data[3]) << 24;
  return static_cast<int32_t>(u);
}

int ReadString(reg::Store& store, const std::string& path, const std::string& name, const std::string& def,
               std::string* out) {
  if (store.KeyExists(Root::LocalMachine, path) != reg::kOk &&
      store.CreateKey(Root::LocalMachine, path) != reg::kOk) {
    return 0;  // buffer untouched
  }
  reg::Value v;
  // The buffer holds 256 bytes including the terminator.
  if (store.QueryValue(Root::LocalMachine, path, name, &v) != reg::kOk || v.data.size() > 256) {
    *out = def;
    return 0;
  }
  std::string text = reg::SzText(v.data);
  // 256 bytes without a terminator do not fit the buffer either.
  if (text.size() > 255) {
    *out = def;
    return 0;
  }
  *out = std::move(text);
  return 1;
}

std::string ResolveDeviceKey(reg::Store& store, const std::string& classKey, const std::string& deviceName) {
  std::string physical;
  if (ReadString(store, classKey, deviceName, "", &physical) != 1 || physical.empty()) physical = deviceName;
  // A name with a backslash would reach outside the class key.
  if (physical.empty() || physical.find('\\') != std::string::npos) return {};
  std::string path = classKey + std::string("\\") + physical;
  if (store.KeyExists(Root::LocalMachine, path) != reg::kOk) return {};
  return path;
}

namespace {

// The values of one device key, read at once, with the Service Objects' rules.
class KeyValues {
 public:
  KeyValues(reg::Store& store, const std::string& keyPath) {
    if (store.ListValues(Root::LocalMachine, keyPath, &values_) != reg::kOk) values_.clear();
  }
  // A number is exactly four data bytes; anything else reads as def.
  int32_t Number(const char* name, int32_t def) const {
    const reg::Value* v = reg::FindValue(values_, name);
    if (v == nullptr || v->data.size() != 4) return def;
    const uint32_t u = static_cast<uint32_t>(v->data[0]) | static_cast<uint32_t>(v->data[1]) << 8 |
                       static_cast<uint32_t>(v->data[2]) << 16 | static_cast<uint32_t>(v->data[3]) << 24;
    return static_cast<int32_t>(u);
  }
  // Present and at most 256 bytes: true with the text; else false with def.
  bool Text(const char* name, const std::string& def, std::string* out) const {
    const reg::Value* v = reg::FindValue(values_, name);
    // The reader's buffer holds 255 characters and the terminator: a longer
    // text (also 256 bytes without a terminator) is refused, never cut.
    std::string text = v == nullptr || v->data.size() > 256 ? std::string() : reg::SzText(v->data);
    if (v == nullptr || v->data.size() > 256 || text.size() > 255) {
      *out = def;
      return false;
    }
    *out = std::move(text);
    return true;
  }

 private:
  std::vector<reg::Value> values_;
};

}  // namespace

bool ReadDeviceConfig(reg::Store& store, const std::string& keyPath, TransportKind transport, bool drawer,
                      DeviceConfig* c) {
  const KeyValues key(store, keyPath);
  auto required = [&](const char* name, int32_t* field) {
    *field = key.Number(name, -1);
    return *field != -1;
  };
  auto requiredString = [&](const char* name, std::string* field) { return key.Text(name, "", field); };
  c->ConfigKeyPath = keyPath;
  ReadString(store, keyPath, "TraceFile", "", &c->TraceFile);
  if (transport == TransportKind::Serial) {
    if (!required("Baudrate", &c->Baudrate) || !required("BitLength", &c->BitLength) ||
        !required("HandShake", &c->HandShake) || !required("Parity", &c->Parity) ||
        !required("Stop", &c->Stop) || !required("XonXoff", &c->XonXoff)) {
      return false;
    }
    if (!requiredString("Port", &c->Port)) return false;
    c->InputBuf = key.Number("InputBuf", 1024);
    c->OutputBuf = key.Number("OutputBuf", 1024);
    c->InputSleep = key.Number("InputSleep", 24);
    if (drawer) {
      c->ConnectorPinNo = key.Number("ConnectorPinNo", 0);
      c->OpenLevel = key.Number("OpenLevel", 1);
    } else {
      key.Text("DspPort", "", &c->DspPort);
    }
    return requiredString("DeviceName", &c->DeviceName);
  }
  const char* portValue = transport == TransportKind::Usb ? "SymbolicLink" : "Port";
  if (!requiredString(portValue, &c->Port)) return false;
  c->OutputBuf = key.Number("OutputBuf", 1024);
  c->InputSleep = key.Number("InputSleep", 24);
  if (!requiredString("DeviceName", &c->DeviceName)) return false;
  if (drawer) {
    c->ConnectorPinNo = key.Number("ConnectorPinNo", 0);
    c->OpenLevel = key.Number("OpenLevel", 1);
  } else {
    c->ImageSleep = key.Number("ImageSleep", 24);
  }
  // A pacing the device key cannot mean is refused, not guessed at.
  std::string pacing;
  if (key.Text(kWritePacingValue, "", &pacing) && !pacing.empty() &&
      !ParseWritePacing(pacing, &c->WriteChunk, &c->WritePauseMs)) {
    return false;
  }
  return true;
}

}  // namespace opos
