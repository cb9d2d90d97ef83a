// OPOSCls: the setup tool's model of one device entry in the OPOS registry tree.
// The program keeps one object for its whole run; the windows and the command
// line read and set its public fields directly and call its operations.
//
// Every operation that changes the registry writes its whole change in one store
// transaction and reports failure (false) with a message in LastError(); on
// failure the registry is as it was before the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "setup/mod_regedit.h"

namespace opos::setup {

class OPOSCls {
 public:
  explicit OPOSCls(reg::Store& store);

  // Fields in the order of the registry model.
  std::string mstrKeyName;
  std::string mstrDeviceClass;
  std::string mstrDeviceName;
  std::string mstrDeviceDesc;
  std::string mstrSOName;
  std::string mstrZADConfig;
  std::string mstrPort;
  std::string mstrVid;
  std::string mstrPid;
  std::string mstrSymbolicLink;
  int32_t mlngBaudrate = 0;
  int32_t mlngBitLength = 0;
  int32_t mlngParity = 0;
  int32_t mlngStop = 0;
  int32_t mlngXonXoff = 0;
  int32_t mlngHandShake = 0;
  int32_t mlngInputBuf = 0;
  int32_t mlngOutputBuf = 0;
  int32_t mlngTimeout = 0;
  int32_t mlngPortShare = 0;
  std::string mstrBaudrateSel;
  std::string mstrBitLengthSel;
  std::string mstrParitySel;
  std::string mstrStopSel;
  std::string mstrXonXoffSel;
  std::string mstrHandShakeSel;
  int32_t mlngIdleSleep = 0;
  int32_t mlngInputSleep = 0;
  int32_t mlngImageSleep = 0;
  int32_t mlngPulseOnTime = 0;
  int32_t mlngPulseOffTime = 0;
  int32_t mlngConnectorPinNo = 0;
  int32_t mlngOpenLevel = 0;
  std::string mstrDescription;
  std::string mstrVersion;

  // Longest text the Service Objects read back from a string value.
  static constexpr size_t kMaxTextLength = 255;

  void Clear();
  // Devices of every kind present in the system.
  int32_t EnumAllDevices();
  // Device path of the Index-th present USB printer of the maker; empty past the end.
  std::string GetDeviceID(int32_t Index);
  int32_t NumberofDevices();
  // Fills the fields from section SINFO/PINFO/UINFO (by the type's last letter) of
  // a model file and creates the device key under a free name (mstrKeyName).
  bool Read(const std::string& strFileName, const std::string& strDeviceType);
  // Moves the device to key strKeyName with its logical names. Refused when a key
  // of that name (compared without regard to case) is another device's.
  bool RenameKey(const std::string& strKeyName);
  // Why RenameKey would refuse strKeyName before writing anything (a bad or
  // unchanged name, one taken by another device); empty when it would not.
  std::string RenameKeyRefusal(const std::string& strKeyName);
  // Why AddLDN or RenameLDN would refuse strLDN as the new name; empty when fine.
  std::string LdnRefusal(const std::string& strLDN) const;
  // Writes every field to the device key; a new device takes the first free name
  // of mstrKeyName, mstrKeyName_2, mstrKeyName_3, ...
  bool Save(bool blnIsNew);
  // Clear, then read every field from the device key. False (fields as read, so
  // empty) when the class is unknown or the key does not exist.
  bool Load(const std::string& strDeviceClass, const std::string& strKeyName);
  // As Load, from the device key's values already read (ListSubKeyValues).
  bool LoadValues(const std::string& strDeviceClass, const std::string& strKeyName,
                  const std::vector<reg::Value>& values);
  // False (nothing written) when strLDN is the device's own key name (in any
  // case), or invalid. A name equal to another device's key is allowed, but
  // leads to this device from then on: LastWarning() says so.
  bool AddLDN(const std::string& strLDN);
  bool RemoveLDN(const std::string& strLDN);
  // As AddLDN, for the new name.
  bool RenameLDN(const std::string& strCurrent, const std::string& strNew);
  // Every logical name of the current class with the key name it points at.
  void GetLDN(std::vector<std::string>* strEnvNames, std::vector<std::string>* strEnvValues,
              int16_t* intCount);
  // Deletes the device key and every logical name pointing at it, then Clear.
  bool Remove();
  // Scratch pairs of the add dialog.
  bool ListPrinter(const std::string& strPvalue, const std::string& strPname);
  void GetListPrinter(std::vector<std::string>* strEnvNames, std::vector<std::string>* strEnvValues,
                      int16_t* intCount);

  // Values of the current device key that Load could not take as they are
  // stored (a text too long for the read buffer, a value of another type), by
  // name. Saving the fields back would overwrite them.
  std::vector<std::string> UnreadableValues();

  const std::string& LastError() const { return mstrLastError; }
  // Set by a successful AddLDN or RenameLDN whose name hides another device.
  const std::string& LastWarning() const { return mstrLastWarning; }

  // Checks of names as the registry and the Service Objects need them; empty
  // when fine, else the reason.
  static std::string CheckKeyName(const std::string& name);
  static std::string CheckLdnName(const std::string& name);

  // The message both logical-name operations give for a name equal to the key's.
  static constexpr const char kSameNameMessage[] =
      "Cannot register Logical Device Name because Device Name and Logical Device Name are the "
      "same.";

 private:
  // Full key path of (class, keyName). For a new key, keyName becomes the first
  // free name. nullopt with mstrLastError set when no path can be given.
  std::optional<std::string> GetKeyPath(const std::string& deviceClass, std::string* keyName, bool isNew);
  // The value writes of Save, in the registry model's order.
  void AddSaveWrites(const std::string& path, modRegedit::WriteBatch* batch) const;
  bool Fail(std::string message);
  // Refuses texts longer than the Service Objects read back.
  bool CheckTextLengths();
  std::string ClassKey() const;
  // The stored spelling of the class's device key equal to name in any case;
  // empty when there is none.
  std::string StoredKeyName(const std::string& name);
  // Sets mstrLastWarning when ldn is another device's key name.
  void WarnIfLdnHidesDevice(const std::string& ldn);

  reg::Store* store_;  // a pointer so that a copy can be assigned back
  std::string mstrLastError;
  std::string mstrLastWarning;
};

}  // namespace opos::setup
