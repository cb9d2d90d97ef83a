#include "setup/devsetup_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "common/device_config.h"
#include "platform/registry_store.h"
#include "platform/serial_enum.h"
#include "platform/usb_enum.h"
#include "setup/device_settings.h"
#include "setup/model_catalog.h"
#include "setup/mod_regedit.h"
#include "setup/mod_setup.h"
#include "setup/opos_cls.h"
#include "setup/text.h"
#include "tools/cli/cli.h"

namespace opos::setup {
namespace {

using namespace modSetup;

constexpr int kOk = cli::kExitOk;
constexpr int kFailed = cli::kExitFailure;
constexpr int kUsage = cli::kExitUsage;

}  // namespace

const cli::Program& DevsetupProgram() {
  static const cli::Program program{
      "devsetup",
      "[OPTIONS] [COMMAND [ARGUMENTS]]",
      "set up OPOS receipt printers and cash drawers",
      {
          {"registry", 'r', "PATH", "registry store (else $OPOS_REGISTRY, else /var/lib/opos/registry.db)"},
          {"models", 'm', "DIR", "model definition files (else the installed share/opos/models)"},
      },
      "Writes device entries for receipt printers and cash drawers into the registry\n"
      "store from the model files; without a command it shows the setup windows.\n"
      "\n"
      "Commands:\n"
      "  list                              devices of both classes with their logical names\n"
      "  models                            base models and the device types they offer\n"
      "  add [--unbound] TYPE              create a device of TYPE under a free key name; a USB\n"
      "                                    type needs its printer plugged in unless --unbound\n"
      "                                    adds it with no binding (set it later with set ... Port)\n"
      "  remove CLASS KEY                  delete a device and its logical names\n"
      "  rename CLASS KEY NEW              rename a device key; its logical names follow\n"
      "  ldn add CLASS KEY NAME            add a logical device name for a device\n"
      "  ldn remove CLASS NAME             delete a logical device name\n"
      "  ldn rename CLASS KEY OLD NEW      rename a logical device name of a device\n"
      "  show CLASS KEY                    a device's settings\n"
      "  set CLASS KEY SETTING VALUE       change a setting as the settings dialog does\n"
      "  usb                               the maker's USB printers present, by port\n"
      "  ports                             serial devices (UARTs, USB-serial adapters) and USB printers\n"
      "  test CLASS KEY                    print the test page or open the drawer\n"
      "\n"
      "CLASS is POSPrinter or CashDrawer. SETTING is one of Port (COMn, or a serial device's\n"
      "absolute path such as /dev/ttyUSB0), Baudrate, BitLength,\n"
      "Parity, Stop, HandShake (by the dialog's texts, e.g. \"9600 bps\", \"NONE\"), InputBuf,\n"
      "OutputBuf, InputSleep, Timeout, ImageSleep, OpenLevel, ConnectorPinNo, PulseOnTime,\n"
      "PulseOffTime. Only add, remove, rename, ldn and set write the store; the other\n"
      "commands report a store that does not exist instead of creating it.\n",
      true,
  };
  return program;
}

namespace {

class Cli {
 public:
  Cli(std::ostream& out, std::ostream& err, const TestRunner& tester)
      : out_(out), err_(err), tester_(tester) {}

  int Run(const std::vector<std::string>& argv);

 private:
  int Error(const std::string& message) {
    err_ << "devsetup: " << message << "\n";
    return kFailed;
  }
  int Usage(const std::string& message) {
    if (!message.empty()) err_ << "devsetup: " << message << "\n";
    err_ << cli::HelpText(DevsetupProgram());
    return kUsage;
  }
  void Note(const std::string& message) { err_ << "devsetup: " << message << "\n"; }

  bool OpenStore();
  std::string StorePath() const;
  // False with a message naming the path when the store is not there.
  bool StoreExists();
  // The class argument, spelled as the registry spells it; empty when unknown.
  std::string ClassArg(const std::string& arg);
  // Loads the device or reports why not.
  bool LoadDevice(const std::string& deviceClass, const std::string& key);
  // The main window lets only the maker's devices be changed (removal aside)
  // and only known types carry logical names.
  bool CheckMakers(const std::string& action);
  bool CheckLdnAllowed();
  // Logical names (name, device) of a class.
  std::vector<std::pair<std::string, std::string>> Ldns(const std::string& deviceClass);

  int List();
  int Models();
  // unbound: a USB type is added with no printer bound, whether one is present or not.
  int Add(const std::string& type, bool unbound);
  int Remove(const std::string& cls, const std::string& key);
  int Rename(const std::string& cls, const std::string& key, const std::string& newName);
  int LdnAdd(const std::string& cls, const std::string& key, const std::string& name);
  int LdnRemove(const std::string& cls, const std::string& name);
  int LdnRename(const std::string& cls, const std::string& key, const std::string& oldName,
                const std::string& newName);
  int Show(const std::string& cls, const std::string& key);
  int Set(const std::string& cls, const std::string& key, const std::string& setting,
          const std::string& value);
  int Usb();
  int Ports();
  int Test(const std::string& cls, const std::string& key);

  std::ostream& out_;
  std::ostream& err_;
  const TestRunner& tester_;
  std::string registryPath_;
  std::string modelDir_;
  std::unique_ptr<reg::Store> store_;
  std::unique_ptr<OPOSCls> cls_;
};

int Cli::Run(const std::vector<std::string>& argv) {
  cli::Parsed parsed;
  const int done = cli::Parse(DevsetupProgram(), argv, &parsed, out_, err_);
  if (done >= 0) return done;
  if (const std::string* v = parsed.Get("registry")) registryPath_ = *v;
  if (const std::string* v = parsed.Get("models")) modelDir_ = *v;
  if (parsed.operands.empty()) return Usage("");
  const std::string cmd = parsed.operands[0];
  std::vector<std::string> a(parsed.operands.begin() + 1, parsed.operands.end());
  // add's own flag, ahead of its type.
  const bool unbound = cmd == "add" && !a.empty() && a[0] == "--unbound";
  if (unbound) a.erase(a.begin());
  auto arity = [&](size_t n) { return a.size() == n; };

  struct Command {
    const char* name;
    size_t args;
  };
  static const Command kCommands[] = {
      {"list", 0}, {"models", 0}, {"add", 1},  {"remove", 2}, {"rename", 3}, {"show", 2},
      {"set", 4},  {"usb", 0},    {"test", 2}, {"ldn", 0},    {"ports", 0},
  };
  bool known = false;
  for (const Command& c : kCommands) {
    if (cmd != c.name) continue;
    known = true;
    if (cmd != "ldn" && !arity(c.args)) {
      return Usage(cmd + " takes " + std::to_string(c.args) + " argument(s)");
    }
  }
  if (!known) return Usage("unknown command \"" + cmd + "\"");
  if (cmd == "ldn") {
    if (a.empty()) return Usage("ldn needs add, remove or rename");
    const std::string sub = a[0];
    size_t want = sub == "add" ? 4 : sub == "remove" ? 3 : sub == "rename" ? 5 : 0;
    if (want == 0) return Usage("unknown ldn command \"" + sub + "\"");
    if (a.size() != want) return Usage("ldn " + sub + " takes " + std::to_string(want - 1) + " arguments");
  }

  // Reading never creates a store: a mistyped path is reported, not made. models
  // and usb do not read the store, so only a store the user named is checked.
  if (cmd == "list" || cmd == "show" || cmd == "models" || cmd == "usb") {
    const bool named = !registryPath_.empty() || std::getenv("OPOS_REGISTRY") != nullptr;
    if ((cmd == "list" || cmd == "show" || named) && !StoreExists()) return kFailed;
  }
  // Commands that need no registry.
  if (cmd == "models") return Models();
  if (cmd == "usb") return Usb();
  if (cmd == "ports") return Ports();

  // A device cannot be added without its model files: say so before a store
  // is made for it.
  if (cmd == "add") {
    const std::string dir = modelDir_.empty() ? DefaultModelDirectory() : modelDir_;
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
      return Error("model folder \"" + dir + "\" does not exist (--models chooses another)");
    }
  }
  if (!OpenStore()) return kFailed;
  if (cmd == "list") return List();
  if (cmd == "add") return Add(a[0], unbound);
  if (cmd == "remove") return Remove(a[0], a[1]);
  if (cmd == "rename") return Rename(a[0], a[1], a[2]);
  if (cmd == "show") return Show(a[0], a[1]);
  if (cmd == "set") return Set(a[0], a[1], a[2], a[3]);
  if (cmd == "test") return Test(a[0], a[1]);
  if (a[0] == "add") return LdnAdd(a[1], a[2], a[3]);
  if (a[0] == "remove") return LdnRemove(a[1], a[2]);
  return LdnRename(a[1], a[2], a[3], a[4]);
}

bool Cli::StoreExists() {
  const std::string path = StorePath();
  if (reg::Store::Exists(path)) return true;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    Error("registry store " + path + " does not exist (devsetup add creates it; --registry chooses another)");
  } else {
    Error("cannot reach registry store " + path + ": " + ec.message());
  }
  return false;
}

std::string Cli::StorePath() const {
  if (!registryPath_.empty()) return registryPath_;
  return reg::Store::DefaultPath();
}

bool Cli::OpenStore() {
  const std::string path = StorePath();
  std::string error;
  store_ = reg::Store::Open(path, &error);
  if (!store_) {
    Error(error);  // it names the store already
    return false;
  }
  cls_ = std::make_unique<OPOSCls>(*store_);
  return true;
}

std::string Cli::ClassArg(const std::string& arg) {
  if (EqualsNoCase(arg, kPrinterClass)) return kPrinterClass;
  if (EqualsNoCase(arg, kDrawerClass)) return kDrawerClass;
  Error("unknown device class \"" + Printable(arg) + "\" (POSPrinter or CashDrawer)");
  return {};
}

bool Cli::LoadDevice(const std::string& deviceClass, const std::string& key) {
  if (std::string why = OPOSCls::CheckKeyName(key); !why.empty()) {
    Error(why);
    return false;
  }
  if (!cls_->Load(deviceClass, key)) {
    Error(cls_->LastError());
    return false;
  }
  return true;
}

bool Cli::CheckMakers(const std::string& action) {
  if (HasMakersConfig(cls_->mstrZADConfig)) return true;
  Error("\"" + cls_->mstrKeyName + "\" is not a KELVORA device; it can only be removed, not " + action);
  return false;
}

bool Cli::CheckLdnAllowed() {
  if (!CheckMakers("given logical names")) return false;
  if (IsKnownType(cls_->mstrDeviceName)) return true;
  Error("\"" + cls_->mstrKeyName + "\" is of type \"" + cls_->mstrDeviceName +
        "\", which is no KELVORA model; it takes no logical names");
  return false;
}

std::vector<std::pair<std::string, std::string>> Cli::Ldns(const std::string& deviceClass) {
  OPOSCls probe(*store_);
  probe.mstrDeviceClass = deviceClass;
  std::vector<std::string> names, values;
  int16_t count = 0;
  probe.GetLDN(&names, &values, &count);
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i < names.size(); ++i) out.emplace_back(names[i], values[i]);
  return out;
}

int Cli::List() {
  for (const char* deviceClass : {kPrinterClass, kDrawerClass}) {
    out_ << deviceClass << "\n";
    std::optional<std::vector<std::string>> keys =
        modRegedit::EnumSubKeys(*store_, ClassKeyPath(deviceClass));
    // Every device key with its values in one read.
    std::vector<std::pair<std::string, std::vector<reg::Value>>> devices;
    if (keys &&
        store_->ListSubKeyValues(reg::Root::LocalMachine, ClassKeyPath(deviceClass), &devices) != reg::kOk) {
      devices.clear();
      for (const std::string& key : *keys) devices.emplace_back(key, std::vector<reg::Value>{});
    }
    auto ldns = Ldns(deviceClass);
    std::vector<bool> used(ldns.size(), false);
    if (!keys) out_ << "  (no devices)\n";
    for (const auto& [key, values] : devices) {
      OPOSCls dev(*store_);
      dev.LoadValues(deviceClass, key, values);
      out_ << "  " << key << ": " << (dev.mstrDeviceName.empty() ? "(no type)" : dev.mstrDeviceName) << " on "
           << (dev.mstrPort.empty() ? "(no port)" : dev.mstrPort) << ", "
           << (IsMakersDevice(deviceClass, dev.mstrZADConfig, dev.mstrDescription) ? "KELVORA device"
                                                                                   : "not a KELVORA device");
      if (!IsKnownType(dev.mstrDeviceName)) out_ << ", unknown type";
      out_ << "\n";
      for (size_t i = 0; i < ldns.size(); ++i) {
        if (!EqualsNoCase(ldns[i].second, key)) continue;
        used[i] = true;
        out_ << "    LDN " << ldns[i].first << "\n";
      }
    }
    for (size_t i = 0; i < ldns.size(); ++i) {
      if (!used[i]) {
        out_ << "  LDN " << ldns[i].first << " points at missing device \"" << ldns[i].second << "\"\n";
      }
    }
  }
  return kOk;
}

int Cli::Models() {
  const std::string dir = modelDir_.empty() ? DefaultModelDirectory() : modelDir_;
  bool any = false;
  for (const char* deviceClass : {kPrinterClass, kDrawerClass}) {
    out_ << deviceClass << "\n";
    std::vector<std::string> problems;
    for (const BaseModel& m : ListBaseModels(dir, deviceClass, &problems)) {
      std::string error;
      std::vector<std::string> types = ListModelTypes(m.path, &error);
      if (types.empty()) {
        problems.push_back(error);
        continue;
      }
      any = true;
      out_ << "  " << m.baseName << ":";
      for (const std::string& t : types) out_ << " " << t;
      out_ << "\n";
    }
    for (const std::string& p : problems) Note("warning: " + p);
  }
  if (!any) return Error("no usable model definition files in \"" + dir + "\"");
  return kOk;
}

int Cli::Add(const std::string& type, bool unbound) {
  const std::string dir = modelDir_.empty() ? DefaultModelDirectory() : modelDir_;
  std::vector<std::string> problems;
  std::string foundClass, foundBase, foundPath;
  for (const char* deviceClass : {kPrinterClass, kDrawerClass}) {
    for (const BaseModel& m : ListBaseModels(dir, deviceClass, &problems)) {
      std::string error;
      std::vector<std::string> types = ListModelTypes(m.path, &error);
      if (types.empty()) problems.push_back(error);
      for (const std::string& t : types) {
        if (t == type && foundPath.empty()) {
          foundClass = deviceClass;
          foundBase = m.baseName;
          foundPath = m.path;
        }
      }
    }
  }
  if (foundPath.empty()) {
    for (const std::string& p : problems) Note("warning: " + p);
    return Error("no model file in \"" + dir + "\" offers the device type \"" + Printable(type) +
                 "\" (see devsetup models)");
  }
  if (foundClass == kDrawerClass && !modRegedit::EnumSubKeys(*store_, ClassKeyPath(kPrinterClass))) {
    return Error(kNoPrinterForDrawerMessage);
  }
  if (unbound && !IsUsbType(type)) {
    return Error("--unbound is for USB device types only; \"" + Printable(type) + "\" is not one");
  }
  TypeRule rule;
  if (!unbound && IsUsbAddPair(type, foundBase)) {
    rule = ApplyTypeRule(type, foundBase, cls_->NumberofDevices());
  }
  if (!rule.canAdd) return Error(rule.message);
  if (!cls_->Read(foundPath, type)) return Error(cls_->LastError());
  // The add dialog drops its scratch pairs when it closes.
  if (KeyExists(*store_, kScratchKey)) store_->DeleteTree(reg::Root::LocalMachine, kScratchKey);
  out_ << cls_->mstrKeyName << "\n";
  if (IsUsbType(type)) {
    Note(std::string(unbound ? "once its printer is plugged in, bind" : "bind") +
         " it to a USB printer with: devsetup set " + foundClass + " " + cls_->mstrKeyName +
         " Port USB001 (see devsetup usb)");
  }
  return kOk;
}

int Cli::Remove(const std::string& clsArg, const std::string& key) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key)) return kFailed;
  const std::string stored = cls_->mstrKeyName;
  if (!cls_->Remove()) return Error(cls_->LastError());
  out_ << "removed " << deviceClass << " " << stored << "\n";
  return kOk;
}

int Cli::Rename(const std::string& clsArg, const std::string& key, const std::string& newName) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key) || !CheckMakers("renamed")) {
    return kFailed;
  }
  if (!cls_->RenameKey(newName)) return Error(cls_->LastError());
  out_ << cls_->mstrKeyName << "\n";
  return kOk;
}

int Cli::LdnAdd(const std::string& clsArg, const std::string& key, const std::string& name) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key) || !CheckLdnAllowed()) return kFailed;
  std::optional<std::string> previous;
  for (const auto& [ldn, target] : Ldns(deviceClass)) {
    if (EqualsNoCase(ldn, name)) previous = target;
  }
  if (!cls_->AddLDN(name)) return Error(cls_->LastError());
  if (previous && !EqualsNoCase(*previous, key)) {
    Note("logical device name \"" + name + "\" pointed at \"" + *previous + "\"; it now points at \"" +
         cls_->mstrKeyName + "\"");
  }
  if (!cls_->LastWarning().empty()) Note("warning: " + cls_->LastWarning());
  return kOk;
}

int Cli::LdnRemove(const std::string& clsArg, const std::string& name) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty()) return kFailed;
  std::optional<std::string> target;
  std::string spelled;
  for (const auto& [ldn, device] : Ldns(deviceClass)) {
    if (EqualsNoCase(ldn, name)) {
      target = device;
      spelled = ldn;
    }
  }
  if (!target) {
    return Error("no logical device name \"" + Printable(name) + "\" under " + deviceClass);
  }
  // A name that points at an existing device follows that device's rules; one
  // left pointing at nothing may always be cleaned away.
  if (OPOSCls::CheckKeyName(*target).empty() && cls_->Load(deviceClass, *target) && !CheckLdnAllowed()) {
    return kFailed;
  }
  cls_->Clear();
  cls_->mstrDeviceClass = deviceClass;
  if (!cls_->RemoveLDN(spelled)) return Error(cls_->LastError());
  return kOk;
}

int Cli::LdnRename(const std::string& clsArg, const std::string& key, const std::string& oldName,
                   const std::string& newName) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key) || !CheckLdnAllowed()) return kFailed;
  std::string spelled;
  std::optional<std::string> previous;
  for (const auto& [ldn, device] : Ldns(deviceClass)) {
    if (EqualsNoCase(ldn, oldName) && EqualsNoCase(device, key)) spelled = ldn;
    if (EqualsNoCase(ldn, newName) && !EqualsNoCase(ldn, oldName)) previous = device;
  }
  if (spelled.empty()) {
    return Error("\"" + key + "\" has no logical device name \"" + Printable(oldName) + "\"");
  }
  // As the rename dialog: an empty or unchanged name is no rename.
  if (newName.empty()) return Error("the new logical device name is empty");
  if (newName == spelled) return Error("the new logical device name is the current one");
  if (!cls_->RenameLDN(spelled, newName)) return Error(cls_->LastError());
  if (previous && !EqualsNoCase(*previous, key)) {
    Note("logical device name \"" + newName + "\" pointed at \"" + *previous + "\"; it now points at \"" +
         cls_->mstrKeyName + "\"");
  }
  if (!cls_->LastWarning().empty()) Note("warning: " + cls_->LastWarning());
  return kOk;
}

int Cli::Show(const std::string& clsArg, const std::string& key) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key)) return kFailed;
  const OPOSCls& c = *cls_;
  auto line = [this](const char* name, const std::string& value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%-16s", name);
    out_ << buf << value << "\n";
  };
  auto coded = [&](const char* name, Choice choice, int32_t code, const std::string& offers) {
    std::string text = ChoiceText(choice, code);
    std::string value = std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
    std::string list;
    for (const CodeText& ct : OfferList(choice, offers)) list += (list.empty() ? "" : ", ") + ct.second;
    if (!list.empty()) value += "; offered: " + list;
    line(name, value);
  };
  line("Class", c.mstrDeviceClass);
  line("Key", c.mstrKeyName);
  line("DeviceName", c.mstrDeviceName);
  line("DeviceDesc", c.mstrDeviceDesc);
  line("SOName", c.mstrSOName);
  line("ZADConfig", c.mstrZADConfig);
  line("Description", c.mstrDescription);
  line("Version", c.mstrVersion);
  line("Port", c.mstrPort);
  if (IsUsbType(c.mstrDeviceName)) {
    line("Vid", c.mstrVid);
    line("Pid", c.mstrPid);
    line("SymbolicLink", c.mstrSymbolicLink.empty() ? "(not bound)" : c.mstrSymbolicLink);
  }
  coded("Baudrate", Choice::Baudrate, c.mlngBaudrate, c.mstrBaudrateSel);
  coded("BitLength", Choice::BitLength, c.mlngBitLength, c.mstrBitLengthSel);
  coded("Parity", Choice::Parity, c.mlngParity, c.mstrParitySel);
  coded("Stop", Choice::Stop, c.mlngStop, c.mstrStopSel);
  coded("HandShake", Choice::HandShake, c.mlngHandShake, c.mstrHandShakeSel);
  line("XonXoff", std::to_string(c.mlngXonXoff));
  line("InputBuf", std::to_string(c.mlngInputBuf));
  line("OutputBuf", std::to_string(c.mlngOutputBuf));
  line("InputSleep", std::to_string(c.mlngInputSleep) + " msec");
  line("Timeout", std::to_string(c.mlngTimeout) + " msec");
  line("ImageSleep", std::to_string(c.mlngImageSleep) + " msec");
  line("IdleSleep", std::to_string(c.mlngIdleSleep) + " msec");
  line("PortShare", std::to_string(c.mlngPortShare));
  if (auto section = SectionOfType(c.mstrDeviceName); section && *section != Section::Serial) {
    // Parallel and USB only: the serial library always writes 64-byte chunks.
    std::string pacing = modRegedit::GetStringValue(*store_, ClassKeyPath(deviceClass) + "\\" + c.mstrKeyName,
                                                    kWritePacingValue);
    int32_t chunk = 0, pause = 0;
    if (pacing.empty()) {
      line(kWritePacingValue, "(not set: 64-byte chunks, 20 msec pause after each)");
    } else if (!ParseWritePacing(pacing, &chunk, &pause)) {
      line(kWritePacingValue, pacing + " (not valid: the device will not open)");
    } else {
      line(kWritePacingValue, pacing + " (" +
                                  (chunk == 0 ? std::string("as much as the device takes")
                                              : std::to_string(chunk) + "-byte chunks") +
                                  ", " + std::to_string(pause) + " msec pause after each)");
    }
  }
  if (deviceClass == kDrawerClass) {
    line("OpenLevel", std::to_string(c.mlngOpenLevel));
    line("ConnectorPinNo", std::to_string(c.mlngConnectorPinNo));
    line("PulseOnTime", std::to_string(c.mlngPulseOnTime));
    line("PulseOffTime", std::to_string(c.mlngPulseOffTime));
  }
  for (const auto& [ldn, device] : Ldns(deviceClass)) {
    if (EqualsNoCase(device, key)) line("LDN", ldn);
  }
  return kOk;
}

int Cli::Set(const std::string& clsArg, const std::string& key, const std::string& setting,
             const std::string& value) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key) || !CheckMakers("changed")) {
    return kFailed;
  }
  std::vector<std::string> unreadable = cls_->UnreadableValues();
  if (!unreadable.empty()) {
    std::string names;
    for (const std::string& n : unreadable) names += (names.empty() ? "" : ", ") + n;
    return Error("\"" + key + "\" holds values this tool cannot read back as stored (" + names +
                 "); saving would overwrite them, so nothing is changed");
  }
  SettingsForm form = OpenSettingsForm(*cls_);
  std::string error;
  if (!SetFormValue(&form, *cls_, setting, value, &error)) return Error(error);
  std::vector<std::string> notes;
  ApplySettingsForm(form, cls_.get(), &notes);
  for (const std::string& n : notes) Note(n);
  if (!cls_->Save(false)) return Error(cls_->LastError());
  return kOk;
}

int Cli::Usb() {
  std::vector<usb::UsbPrinter> printers = usb::EnumerateMakerPrinters();
  if (printers.empty()) {
    out_ << "no USB printer of the maker is present\n";
    return kOk;
  }
  std::vector<std::string> ports = UsbPortNames(static_cast<int32_t>(printers.size()));
  for (size_t i = 0; i < printers.size(); ++i) {
    const usb::UsbPrinter& p = printers[i];
    std::string why;
    std::string node = usb::ResolveUsbDevicePath(p.devicePath, &why);
    out_ << ports[i] << "  " << p.devicePath << "  " << p.vendorId << ":" << p.productId << "  "
         << (node.empty() ? "(" + why + ")" : node) << "\n";
  }
  if (printers.size() >= 100) Note("100 or more printers: the settings dialog offers none of them");
  return kOk;
}

int Cli::Ports() {
  const std::vector<platform::SerialDevice> serial = platform::EnumerateSerialDevices();
  for (const platform::SerialDevice& d : serial) {
    out_ << "serial  " << d.path;
    if (!d.vendorId.empty()) out_ << "  " << d.vendorId << ":" << d.productId;
    if (!d.description.empty()) out_ << "  " << d.description;
    out_ << "\n";
    for (const std::string& link : d.byId) out_ << "        " << link << "\n";
  }
  if (serial.empty()) out_ << "no serial device is present\n";
  for (const usb::UsbPrinter& p : usb::EnumerateMakerPrinters()) {
    std::string why;
    const std::string node = usb::ResolveUsbDevicePath(p.devicePath, &why);
    out_ << "usb     " << p.devicePath << "  " << p.vendorId << ":" << p.productId << "  "
         << (node.empty() ? "(" + why + ")" : node) << "\n";
  }
  return kOk;
}

int Cli::Test(const std::string& clsArg, const std::string& key) {
  std::string deviceClass = ClassArg(clsArg);
  if (deviceClass.empty() || !LoadDevice(deviceClass, key) || !CheckMakers("tested")) {
    return kFailed;
  }
  if (!tester_) {
    return Error("test is not available: this devsetup was built without the OPOS Control Objects");
  }
  std::string unavailable;
  std::vector<std::string> notes;
  std::vector<TestMessage> messages = tester_(*cls_, store_->Path(), &notes, &unavailable);
  if (!unavailable.empty()) return Error("test is not available: " + unavailable);
  for (const TestMessage& m : messages) {
    std::string text = m.text;
    for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p)) {
      text.replace(p, 2, "\n");
    }
    err_ << m.title << ": " << text << "\n";
    if (!m.detail.empty()) err_ << "cause: " << m.detail << "\n";
  }
  for (const std::string& n : notes) Note(n);
  if (!messages.empty()) return kFailed;
  out_ << (deviceClass == kDrawerClass ? "drawer opened" : "test page printed") << "\n";
  return kOk;
}

}  // namespace

int RunDevsetup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const TestRunner& tester) {
  Cli cli(out, err, tester);
  return cli.Run(args);
}

}  // namespace opos::setup
