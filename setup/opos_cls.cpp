#include "setup/opos_cls.h"

#include <algorithm>
#include <climits>

#include "platform/usb_enum.h"
#include "setup/ini_file.h"
#include "setup/mod_setup.h"
#include "setup/text.h"

namespace opos::setup {
namespace {

using namespace modSetup;

// Suffixes tried for a new key before giving up; far beyond any real use, it
// only keeps a store that answers every name as taken from looping forever.
constexpr int kMaxKeySuffix = 9999;

enum class When { Always, UsbType, Drawer };
struct SaveEntry {
  const Setting* setting;
  When when;
};
// The device key's values in the order Save writes them.
const SaveEntry kSaveOrder[] = {
    {&kSOName, When::Always},         {&kZADConfig, When::Always},    {&kBaudrate, When::Always},
    {&kBaudrateSel, When::Always},    {&kBitLength, When::Always},    {&kBitLengthSel, When::Always},
    {&kDescription, When::Always},    {&kDeviceDesc, When::Always},   {&kDeviceName, When::Always},
    {&kHandShake, When::Always},      {&kHandShakeSel, When::Always}, {&kIdleSleep, When::Always},
    {&kInputBuf, When::Always},       {&kImageSleep, When::Always},   {&kInputSleep, When::Always},
    {&kOutputBuf, When::Always},      {&kParity, When::Always},       {&kParitySel, When::Always},
    {&kPort, When::Always},           {&kVid, When::UsbType},         {&kPid, When::UsbType},
    {&kSymbolicLink, When::UsbType},  {&kPortShare, When::Always},    {&kStop, When::Always},
    {&kStopSel, When::Always},        {&kTimeout, When::Always},      {&kVersion, When::Always},
    {&kXonXoff, When::Always},        {&kXonXoffSel, When::Always},   {&kOpenLevel, When::Drawer},
    {&kConnectorPinNo, When::Drawer}, {&kPulseOnTime, When::Drawer},  {&kPulseOffTime, When::Drawer},
};

}  // namespace

// The field that holds a setting; nullptr for the class, which is no field value.
template <class C>
static auto TextField(C& c, const Setting& s) -> decltype(&c.mstrSOName) {
  const Setting* p = &s;
  if (p == &kSOName) return &c.mstrSOName;
  if (p == &kDeviceName) return &c.mstrDeviceName;
  if (p == &kDeviceDesc) return &c.mstrDeviceDesc;
  if (p == &kDeviceClass) return &c.mstrDeviceClass;
  if (p == &kZADConfig) return &c.mstrZADConfig;
  if (p == &kPort) return &c.mstrPort;
  if (p == &kVid) return &c.mstrVid;
  if (p == &kPid) return &c.mstrPid;
  if (p == &kSymbolicLink) return &c.mstrSymbolicLink;
  if (p == &kBaudrateSel) return &c.mstrBaudrateSel;
  if (p == &kBitLengthSel) return &c.mstrBitLengthSel;
  if (p == &kParitySel) return &c.mstrParitySel;
  if (p == &kStopSel) return &c.mstrStopSel;
  if (p == &kXonXoffSel) return &c.mstrXonXoffSel;
  if (p == &kHandShakeSel) return &c.mstrHandShakeSel;
  if (p == &kDescription) return &c.mstrDescription;
  if (p == &kVersion) return &c.mstrVersion;
  return nullptr;
}

template <class C>
static auto NumberField(C& c, const Setting& s) -> decltype(&c.mlngBaudrate) {
  const Setting* p = &s;
  if (p == &kBaudrate) return &c.mlngBaudrate;
  if (p == &kBitLength) return &c.mlngBitLength;
  if (p == &kParity) return &c.mlngParity;
  if (p == &kStop) return &c.mlngStop;
  if (p == &kXonXoff) return &c.mlngXonXoff;
  if (p == &kHandShake) return &c.mlngHandShake;
  if (p == &kInputBuf) return &c.mlngInputBuf;
  if (p == &kOutputBuf) return &c.mlngOutputBuf;
  if (p == &kTimeout) return &c.mlngTimeout;
  if (p == &kPortShare) return &c.mlngPortShare;
  if (p == &kIdleSleep) return &c.mlngIdleSleep;
  if (p == &kInputSleep) return &c.mlngInputSleep;
  if (p == &kImageSleep) return &c.mlngImageSleep;
  if (p == &kPulseOnTime) return &c.mlngPulseOnTime;
  if (p == &kPulseOffTime) return &c.mlngPulseOffTime;
  if (p == &kConnectorPinNo) return &c.mlngConnectorPinNo;
  if (p == &kOpenLevel) return &c.mlngOpenLevel;
  return nullptr;
}

OPOSCls::OPOSCls(reg::Store& store) : store_(&store) {}

bool OPOSCls::Fail(std::string message) {
  mstrLastError = std::move(message);
  return false;
}

bool OPOSCls::CheckTextLengths() {
  for (const SaveEntry& e : kSaveOrder) {
    const std::string* t = TextField(*this, *e.setting);
    if (t != nullptr && t->size() > kMaxTextLength) {
      return Fail(std::string("\"") + e.setting->valueName + "\" is longer than " +
                  std::to_string(kMaxTextLength) + " bytes, more than the Service Objects read");
    }
  }
  return true;
}

std::string OPOSCls::ClassKey() const {
  return ClassKeyPath(mstrDeviceClass);
}

std::string OPOSCls::CheckKeyName(const std::string& name) {
  if (name.empty()) return "a device key name cannot be empty";
  if (name.size() > reg::kMaxKeyNameLen) {
    return "device key name \"" + name + "\" is longer than " + std::to_string(reg::kMaxKeyNameLen) +
           " bytes";
  }
  if (name.find('\\') != std::string::npos) {
    return "device key name \"" + name + "\" contains a backslash, which would make a nested key";
  }
  if (FindControlChar(name) != std::string::npos) {
    return "device key name \"" + Printable(name) + "\" contains a control character";
  }
  return {};
}

std::string OPOSCls::CheckLdnName(const std::string& name) {
  if (name.empty()) return "a logical device name cannot be empty";
  if (name.size() > kMaxTextLength) {
    return "logical device name \"" + name + "\" is longer than " + std::to_string(kMaxTextLength) + " bytes";
  }
  if (FindControlChar(name) != std::string::npos) {
    return "logical device name \"" + Printable(name) + "\" contains a control character";
  }
  return {};
}

void OPOSCls::Clear() {
  for (const SaveEntry& e : kSaveOrder) {
    if (std::string* t = TextField(*this, *e.setting)) t->clear();
    if (int32_t* n = NumberField(*this, *e.setting)) *n = 0;
  }
  mstrKeyName.clear();
  mstrDeviceClass.clear();
}

int32_t OPOSCls::EnumAllDevices() {
  return usb::CountPresentDevices();
}

int32_t OPOSCls::NumberofDevices() {
  return static_cast<int32_t>(usb::EnumerateMakerPrinters().size());
}

std::string OPOSCls::GetDeviceID(int32_t Index) {
  if (Index < 0) return {};
  std::vector<usb::UsbPrinter> printers = usb::EnumerateMakerPrinters();
  if (static_cast<size_t>(Index) >= printers.size()) return {};
  return printers[static_cast<size_t>(Index)].devicePath;
}

std::optional<std::string> OPOSCls::GetKeyPath(const std::string& deviceClass, std::string* keyName,
                                               bool isNew) {
  const std::string base = ClassKeyPath(deviceClass);
  if (base.empty()) {
    Fail("unknown device class \"" + deviceClass + "\" (POSPrinter or CashDrawer)");
    return std::nullopt;
  }
  if (std::string why = CheckKeyName(*keyName); !why.empty()) {
    Fail(why);
    return std::nullopt;
  }
  if (!isNew) return base + "\\" + *keyName;
  std::string candidate = *keyName;
  for (int n = 2;; ++n) {
    if (candidate.size() > reg::kMaxKeyNameLen) {
      Fail("no free device key name for \"" + *keyName + "\": \"" + candidate + "\" is too long");
      return std::nullopt;
    }
    long rc = store_->KeyExists(reg::Root::LocalMachine, base + "\\" + candidate);
    if (rc == reg::kFileNotFound) break;
    if (rc != reg::kOk) {
      Fail("cannot look up device keys: " + store_->LastError());
      return std::nullopt;
    }
    if (n > kMaxKeySuffix) {
      Fail("no free device key name for \"" + *keyName + "\"");
      return std::nullopt;
    }
    candidate = *keyName + "_" + std::to_string(n);
  }
  *keyName = candidate;
  return base + "\\" + candidate;
}

void OPOSCls::AddSaveWrites(const std::string& path, modRegedit::WriteBatch* batch) const {
  for (const SaveEntry& e : kSaveOrder) {
    if (e.when == When::UsbType && !IsUsbType(mstrDeviceName)) continue;
    if (e.when == When::Drawer && mstrDeviceClass != kDrawerClass) continue;
    if (const std::string* t = TextField(*this, *e.setting)) {
      batch->SetString(path, e.setting->valueName, *t);
    } else if (const int32_t* n = NumberField(*this, *e.setting)) {
      batch->SetDword(path, e.setting->valueName, *n);
    }
  }
}

bool OPOSCls::Save(bool blnIsNew) {
  if (!CheckTextLengths()) return false;
  std::string keyName = mstrKeyName;
  std::optional<std::string> path = GetKeyPath(mstrDeviceClass, &keyName, blnIsNew);
  if (!path) return false;
  modRegedit::WriteBatch batch;
  AddSaveWrites(*path, &batch);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot save device \"" + keyName + "\": " + error);
  }
  mstrKeyName = keyName;
  mstrLastError.clear();
  return true;
}

bool OPOSCls::Load(const std::string& deviceClassArg, const std::string& keyNameArg) {
  // Copies first: a caller may pass this object's own fields, which Clear empties.
  const std::string strDeviceClass = deviceClassArg, strKeyName = keyNameArg;
  Clear();
  mstrDeviceClass = strDeviceClass;
  mstrKeyName = strKeyName;
  std::string keyName = strKeyName;
  std::optional<std::string> path = GetKeyPath(strDeviceClass, &keyName, false);
  if (!path) return false;
  // Every value of the key in one read; a missing key reads as empty.
  std::vector<reg::Value> values;
  long rc = store_->ListValues(reg::Root::LocalMachine, *path, &values);
  if (rc != reg::kOk) values.clear();
  LoadValues(strDeviceClass, strKeyName, values);
  if (rc != reg::kOk) {
    return Fail(rc == reg::kFileNotFound
                    ? "no device \"" + strKeyName + "\" under " + strDeviceClass
                    : "cannot read device \"" + strKeyName + "\": " + store_->LastError());
  }
  // Names compare without regard to case: the device is known by its stored spelling.
  if (std::string stored = StoredKeyName(strKeyName); !stored.empty()) mstrKeyName = stored;
  return true;
}

bool OPOSCls::LoadValues(const std::string& deviceClassArg, const std::string& keyNameArg,
                         const std::vector<reg::Value>& values) {
  // Copies first: a caller may pass this object's own fields, which Clear empties.
  const std::string strDeviceClass = deviceClassArg, strKeyName = keyNameArg;
  Clear();
  mstrDeviceClass = strDeviceClass;
  mstrKeyName = strKeyName;
  const bool drawer = strDeviceClass == kDrawerClass;
  for (const SaveEntry& e : kSaveOrder) {
    if (e.when == When::Drawer && !drawer) continue;
    if (std::string* t = TextField(*this, *e.setting)) {
      *t = ReadRegText(values, *e.setting);
    } else if (int32_t* n = NumberField(*this, *e.setting)) {
      *n = ReadRegNumber(values, *e.setting);
    }
  }
  mstrLastError.clear();
  return true;
}

std::string OPOSCls::StoredKeyName(const std::string& name) {
  const std::string base = ClassKeyPath(mstrDeviceClass);
  if (base.empty()) return {};
  for (const std::string& key : modRegedit::EnumSubKeys(*store_, base).value_or(std::vector<std::string>{})) {
    if (EqualsNoCase(key, name)) return key;
  }
  return {};
}

void OPOSCls::WarnIfLdnHidesDevice(const std::string& ldn) {
  const std::string other = StoredKeyName(ldn);
  if (other.empty() || EqualsNoCase(other, mstrKeyName)) return;
  // A logical name is looked up before the device keys.
  mstrLastWarning = "the logical device name \"" + ldn + "\" is also the key name of the device \"" + other +
                    "\"; opening \"" + ldn + "\" now reaches \"" + mstrKeyName + "\", not \"" + other + "\"";
}

bool OPOSCls::Read(const std::string& fileNameArg, const std::string& deviceTypeArg) {
  const std::string strFileName = fileNameArg, strDeviceType = deviceTypeArg;
  Clear();
  std::optional<Section> section = SectionOfType(strDeviceType);
  if (!section) {
    return Fail("device type \"" + strDeviceType + "\" does not end in S, P or U (serial, parallel, USB)");
  }
  const char* sectionName = SectionName(*section);
  std::string error;
  std::optional<IniFile> file = IniFile::Load(strFileName, &error);
  if (!file) return Fail("model file " + error);
  const std::string where = "model file \"" + strFileName + "\" [" + sectionName + "]";
  if (!file->HasSection(sectionName)) {
    return Fail("model file \"" + strFileName + "\" has no [" + sectionName + "] section");
  }

  OPOSCls read(*store_);
  std::string rawClass;
  if (!file->Get(sectionName, kDeviceClass.fileKey, &rawClass)) {
    return Fail(where + " lacks the key \"" + kDeviceClass.fileKey + "\"");
  }
  const std::string deviceClass = CleanIniText(rawClass);
  if (!IsDeviceClass(deviceClass)) {
    return Fail(where + ": DeviceClass \"" + deviceClass + "\" is not POSPrinter or CashDrawer");
  }
  for (const Setting* s : FileSettings(*section, deviceClass)) {
    std::string raw;
    if (!file->Get(sectionName, s->fileKey, &raw)) {
      return Fail(where + " lacks the key \"" + s->fileKey + "\"");
    }
    std::string text = CleanIniText(raw);
    if (s->kind == Kind::Text) {
      *TextField(read, *s) = text;
      continue;
    }
    std::optional<int32_t> number = ParseIniNumber(text);
    if (!number) return Fail(where + ": \"" + s->fileKey + "\" = " + text + " is out of range");
    *NumberField(read, *s) = *number;
  }
  if (read.mstrDeviceName != strDeviceType) {
    return Fail(where + " describes \"" + read.mstrDeviceName + "\", not \"" + strDeviceType + "\"");
  }
  if (std::string why = CheckKeyName(read.mstrDeviceName); !why.empty()) {
    return Fail(where + ": " + why);
  }
  if (read.mstrSOName.empty()) return Fail(where + ": SOName is empty");
  if (read.mstrPort.empty()) return Fail(where + ": Port is empty");

  read.mstrKeyName = read.mstrDeviceName;
  read.mstrDescription = DescriptionForClass(read.mstrDeviceClass);
  read.mstrVersion = VersionForClass(read.mstrDeviceClass);
  if (!read.Save(true)) return Fail(read.mstrLastError);
  *this = read;
  return true;
}

std::string OPOSCls::LdnRefusal(const std::string& strLDN) const {
  if (EqualsNoCase(strLDN, mstrKeyName)) return kSameNameMessage;
  return CheckLdnName(strLDN);
}

bool OPOSCls::AddLDN(const std::string& strLDN) {
  mstrLastWarning.clear();
  if (std::string why = LdnRefusal(strLDN); !why.empty()) return Fail(why);
  std::string keyName = mstrKeyName;
  std::optional<std::string> path = GetKeyPath(mstrDeviceClass, &keyName, false);
  if (!path) return false;
  if (store_->KeyExists(reg::Root::LocalMachine, *path) != reg::kOk) {
    return Fail("no device \"" + mstrKeyName + "\" under " + mstrDeviceClass);
  }
  modRegedit::WriteBatch batch;
  batch.SetString(ClassKey(), strLDN, mstrKeyName);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot add logical device name \"" + strLDN + "\": " + error);
  }
  mstrLastError.clear();
  WarnIfLdnHidesDevice(strLDN);
  return true;
}

bool OPOSCls::RemoveLDN(const std::string& strLDN) {
  if (!IsDeviceClass(mstrDeviceClass)) return Fail("no device class selected");
  // The empty name is the class key's default value, never a logical name.
  if (strLDN.empty()) return Fail("a logical device name cannot be empty");
  modRegedit::WriteBatch batch;
  batch.DeleteValue(ClassKey(), strLDN);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot remove logical device name \"" + strLDN + "\": " + error);
  }
  mstrLastError.clear();
  return true;
}

bool OPOSCls::RenameLDN(const std::string& strCurrent, const std::string& strNew) {
  mstrLastWarning.clear();
  if (std::string why = LdnRefusal(strNew); !why.empty()) return Fail(why);
  if (!IsDeviceClass(mstrDeviceClass)) return Fail("no device class selected");
  if (strCurrent.empty()) return Fail("a logical device name cannot be empty");
  // One transaction, so a name that differs only in case is never lost between
  // the deletion and the new write.
  modRegedit::WriteBatch batch;
  batch.DeleteValue(ClassKey(), strCurrent);
  batch.SetString(ClassKey(), strNew, mstrKeyName);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot rename logical device name \"" + strCurrent + "\": " + error);
  }
  mstrLastError.clear();
  WarnIfLdnHidesDevice(strNew);
  return true;
}

void OPOSCls::GetLDN(std::vector<std::string>* strEnvNames, std::vector<std::string>* strEnvValues,
                     int16_t* intCount) {
  // Without a class there is no class key (and the empty path is the root).
  modRegedit::ValueList list;
  if (IsDeviceClass(mstrDeviceClass)) list = modRegedit::EnumValues(*store_, ClassKey());
  *strEnvNames = std::move(list.names);
  *strEnvValues = std::move(list.data);
  *intCount = static_cast<int16_t>(std::min<size_t>(strEnvNames->size(), INT16_MAX));
}

bool OPOSCls::Remove() {
  std::string keyName = mstrKeyName;
  std::optional<std::string> path = GetKeyPath(mstrDeviceClass, &keyName, false);
  if (!path) return false;
  std::vector<std::string> names, values;
  int16_t count = 0;
  GetLDN(&names, &values, &count);
  modRegedit::WriteBatch batch;
  // Key names compare without regard to case, so a logical name whose data
  // differs only in case points at this device as well.
  for (size_t i = 0; i < names.size(); ++i) {
    if (EqualsNoCase(values[i], mstrKeyName)) batch.DeleteValue(ClassKey(), names[i]);
  }
  if (modRegedit::KeyExists(*store_, *path)) batch.DeleteKey(*path);
  std::string error;
  if (!batch.empty() && batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot remove device \"" + mstrKeyName + "\": " + error);
  }
  Clear();
  mstrLastError.clear();
  return true;
}

std::string OPOSCls::RenameKeyRefusal(const std::string& strKeyName) {
  if (std::string why = CheckKeyName(strKeyName); !why.empty()) return why;
  const std::string& oldName = mstrKeyName;
  std::string oldKey = oldName;
  if (!GetKeyPath(mstrDeviceClass, &oldKey, false)) return mstrLastError;
  if (strKeyName == oldName) return "\"" + oldName + "\" already has that name";
  // Saving under a suffixed name while the logical names point at the requested
  // one would split the device from its names: a taken name is refused instead.
  if (!EqualsNoCase(strKeyName, oldName)) {
    long rc = store_->KeyExists(reg::Root::LocalMachine, ClassKey() + "\\" + strKeyName);
    if (rc == reg::kOk) {
      return "cannot rename \"" + oldName + "\" to \"" + strKeyName +
             "\": a device key of that name already exists under " + mstrDeviceClass;
    }
    if (rc != reg::kFileNotFound) return "cannot look up device keys: " + store_->LastError();
  }
  return {};
}

bool OPOSCls::RenameKey(const std::string& strKeyName) {
  if (std::string why = RenameKeyRefusal(strKeyName); !why.empty()) return Fail(why);
  const std::string oldName = mstrKeyName;
  std::string oldKey = oldName;
  std::optional<std::string> oldPath = GetKeyPath(mstrDeviceClass, &oldKey, false);
  if (!oldPath) return false;
  const std::string newPath = ClassKey() + "\\" + strKeyName;
  std::vector<std::string> names, values;
  int16_t count = 0;
  GetLDN(&names, &values, &count);
  modRegedit::WriteBatch batch;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!EqualsNoCase(values[i], oldName)) continue;
    batch.DeleteValue(ClassKey(), names[i]);
    batch.SetString(ClassKey(), names[i], strKeyName);
  }
  if (modRegedit::KeyExists(*store_, *oldPath)) batch.DeleteKey(*oldPath);
  OPOSCls renamed = *this;
  renamed.mstrKeyName = strKeyName;
  if (!CheckTextLengths()) return false;
  renamed.AddSaveWrites(newPath, &batch);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) {
    return Fail("cannot rename \"" + oldName + "\": " + error);
  }
  mstrKeyName = strKeyName;
  mstrLastError.clear();
  return true;
}

std::vector<std::string> OPOSCls::UnreadableValues() {
  std::vector<std::string> bad;
  const std::string path = ClassKey() + "\\" + mstrKeyName;
  if (ClassKey().empty()) return bad;
  std::vector<reg::Value> values;
  if (store_->ListValues(reg::Root::LocalMachine, path, &values) != reg::kOk) return bad;
  for (const reg::Value& v : values) {
    for (const SaveEntry& e : kSaveOrder) {
      if (!EqualsNoCase(v.name, e.setting->valueName)) continue;
      const bool text = TextField(*this, *e.setting) != nullptr;
      const bool fits = text ? v.type == reg::REG_SZ && v.data.size() <= modRegedit::kStringBufferBytes
                             : v.type == reg::REG_DWORD && v.data.size() == 4;
      if (!fits) bad.push_back(v.name.empty() ? "(default)" : v.name);
    }
  }
  return bad;
}

bool OPOSCls::ListPrinter(const std::string& strPvalue, const std::string& strPname) {
  modRegedit::WriteBatch batch;
  batch.SetString(kScratchKey, strPvalue, strPname);
  std::string error;
  if (batch.Commit(*store_, &error) != reg::kOk) return Fail("cannot write scratch pair: " + error);
  return true;
}

void OPOSCls::GetListPrinter(std::vector<std::string>* strEnvNames, std::vector<std::string>* strEnvValues,
                             int16_t* intCount) {
  modRegedit::ValueList list = modRegedit::EnumValues(*store_, kScratchKey);
  *strEnvNames = std::move(list.names);
  *strEnvValues = std::move(list.data);
  *intCount = static_cast<int16_t>(std::min<size_t>(strEnvNames->size(), INT16_MAX));
}

}  // namespace opos::setup
