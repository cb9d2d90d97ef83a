#include "tools/opos/run_command.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/message_queue.h"
#include "tools/cli/cli.h"
#include "tools/opos/text_escapes.h"

namespace opos::tool {

using com::HRESULT;
using com::Variant;
using com::VT;
using control::DeviceClass;

namespace {

std::unique_ptr<control::ControlObject> MakeControl(DeviceClass c) {
  if (c == DeviceClass::POSPrinter) return std::make_unique<control::POSPrinter>();
  return std::make_unique<control::CashDrawer>();
}

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

class Runner {
 public:
  Runner(FILE* out, FILE* err) : out_(out), err_(err) {}
  ~Runner() { CloseAll(); }

  int Run(DeviceClass firstClass, const std::string& firstDevice, const std::vector<Command>& commands) {
    OpenDevice(firstClass, firstDevice, 0);
    for (const Command& c : commands) {
      switch (c.kind) {
        case Command::kOpen:
          OpenDevice(c.deviceClass, c.device, c.line);
          break;
        case Command::kSelect:
          // The script check matched every Select to an earlier Open.
          if (Device* d = Find(c.deviceClass, c.device)) current_ = d;
          break;
        case Command::kPump:
          platform::PumpWait(c.number);
          break;
        case Command::kSleep:
          std::this_thread::sleep_for(std::chrono::milliseconds(c.number));
          break;
        case Command::kAnswer:
          answer_ = c.number;
          break;
        case Command::kCall: {
          const int status = Call(c);
          if (status != kExitOk) return status;
          break;
        }
      }
    }
    CloseAll();
    return kExitOk;
  }

 private:
  struct Device {
    DeviceClass cls;
    std::string name;
    std::unique_ptr<control::ControlObject> co;
  };

  void Emit(const std::string& line) {
    std::fputs(line.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }

  Device* Find(DeviceClass c, const std::string& name) {
    for (auto& d : devices_) {
      if (d->cls == c && strcasecmp(d->name.c_str(), name.c_str()) == 0) return d.get();
    }
    return nullptr;
  }

  void OpenDevice(DeviceClass c, const std::string& name, int line) {
    Device* d = Find(c, name);
    if (!d) {
      auto fresh = std::make_unique<Device>();
      fresh->cls = c;
      fresh->name = name;
      fresh->co = MakeControl(c);
      AttachHandlers(*fresh);
      devices_.push_back(std::move(fresh));
      d = devices_.back().get();
    }
    current_ = d;
    const int32_t rc = d->co->Open(name);
    Emit("{\"call\":\"Open\",\"args\":[" + JsonString(name) + "],\"result\":" + std::to_string(rc) + "}");
    if (rc != OPOS_SUCCESS) {
      const std::string where = line > 0 ? "line " + std::to_string(line) + ": " : "";
      std::fprintf(err_, "opos: %scannot open %s %s: %s\n", where.c_str(), control::DeviceClassName(c),
                   name.c_str(), d->co->LastErrorText().c_str());
    }
  }

  void AttachHandlers(Device& d) {
    const std::string device = ",\"device\":" + JsonString(d.name) + "}";
    d.co->OnStatusUpdate([this, device](int32_t data) {
      Emit("{\"event\":\"StatusUpdate\",\"Data\":" + std::to_string(data) + device);
    });
    d.co->OnOutputComplete([this, device](int32_t id) {
      Emit("{\"event\":\"OutputComplete\",\"OutputID\":" + std::to_string(id) + device);
    });
    d.co->OnError([this, device](int32_t rc, int32_t rce, int32_t locus, int32_t& response) {
      if (answer_) response = *answer_;
      Emit("{\"event\":\"Error\",\"ResultCode\":" + std::to_string(rc) +
           ",\"ResultCodeExtended\":" + std::to_string(rce) + ",\"ErrorLocus\":" + std::to_string(locus) +
           ",\"ErrorResponse\":" + std::to_string(response) + device);
    });
    d.co->OnDirectIO([this, device](int32_t number, int32_t& data, std::string& text) {
      Emit("{\"event\":\"DirectIO\",\"EventNumber\":" + std::to_string(number) +
           ",\"Data\":" + std::to_string(data) + ",\"String\":" + JsonString(text) + device);
    });
  }

  int Call(const Command& c) {
    control::ControlObject& co = *current_->co;
    const com::MemberTable& table = control::ControlMembers(current_->cls);
    int32_t id = 0;
    if (!com::Succeeded(table.Lookup(c.member, &id))) {
      std::fprintf(err_, "opos: line %d: %s has no member %s\n", c.line,
                   control::DeviceClassName(current_->cls), c.member.c_str());
      return kExitUsage;
    }
    const com::Member& m = *table.Find(id);
    const size_t n = c.args.size();
    // Cells for by-reference arguments; sized once so the pointers stay put.
    std::vector<int32_t> longs(n);
    std::vector<std::string> strings(n);
    std::vector<Variant> args;
    for (size_t k = 0; k < n && k < m.params.size(); ++k) {
      const ScriptArg& a = c.args[k];
      switch (m.params[k]) {
        case VT::LongRef:
          longs[k] = a.number;
          args.push_back(Variant::LongRef(&longs[k]));
          break;
        case VT::StringRef:
          strings[k] = a.text;
          args.push_back(Variant::StringRef(&strings[k]));
          break;
        case VT::String:
          args.push_back(Variant::String(a.text));
          break;
        default:
          args.push_back(Variant::Long(a.number));
          break;
      }
    }
    Variant result;
    const HRESULT hr = co.Invoke(m.name, args, &result);
    if (hr == com::DISP_E_UNKNOWNNAME || hr == com::DISP_E_BADPARAMCOUNT || hr == com::DISP_E_TYPEMISMATCH) {
      const char* why = hr == com::DISP_E_UNKNOWNNAME     ? "the Service Object has no such member"
                        : hr == com::DISP_E_BADPARAMCOUNT ? "wrong number of arguments"
                                                          : "an argument has the wrong type";
      std::fprintf(err_, "opos: line %d: %s: %s\n", c.line, m.name, why);
      return kExitUsage;
    }
    if (!com::Succeeded(hr)) {
      std::fprintf(err_, "opos: line %d: %s: %s (%s)\n", c.line, m.name, co.LastErrorText().c_str(),
                   Hex(hr).c_str());
      return kExitFailure;
    }
    std::string line = "{\"call\":" + JsonString(m.name) + ",\"args\":[";
    for (size_t k = 0; k < args.size(); ++k) {
      if (k) line += ',';
      switch (args[k].vt) {
        case VT::LongRef:
          line += std::to_string(longs[k]);
          break;
        case VT::StringRef:
          line += JsonString(strings[k]);
          break;
        case VT::String:
          line += JsonString(args[k].strVal);
          break;
        default:
          line += std::to_string(args[k].lVal);
          break;
      }
    }
    line += "],\"result\":";
    if (result.vt == VT::Long)
      line += std::to_string(result.lVal);
    else if (result.vt == VT::String)
      line += JsonString(result.strVal);
    else
      line += "null";
    const int32_t rc = co.GetPropertyNumber(PIDX_ResultCode);
    line += ",\"ResultCode\":" + std::to_string(rc);
    line += ",\"ResultCodeExtended\":" + std::to_string(co.GetPropertyNumber(PIDX_ResultCodeExtended)) + "}";
    Emit(line);
    if (rc != OPOS_SUCCESS) {
      const std::string detail = co.LastErrorDetail();
      if (!detail.empty())
        std::fprintf(err_, "opos: line %d: %s: %d: %s\n", c.line, m.name, rc, detail.c_str());
    }
    return kExitOk;
  }

  // Last opened first: a drawer goes before the printer whose port it shares.
  void CloseAll() {
    for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
      if ((*it)->co->IsOpen()) (*it)->co->Close();
    }
  }

  FILE* out_;
  FILE* err_;
  std::vector<std::unique_ptr<Device>> devices_;
  Device* current_ = nullptr;
  std::optional<int32_t> answer_;
};

bool ReadAll(std::istream& in, std::string* text) {
  std::ostringstream ss;
  ss << in.rdbuf();
  *text = ss.str();
  return !in.bad();
}

const char* ResultName(int32_t rc) {
  switch (rc) {
    case OPOS_SUCCESS:
      return "OPOS_SUCCESS";
    case OPOS_E_CLOSED:
      return "OPOS_E_CLOSED";
    case OPOS_E_CLAIMED:
      return "OPOS_E_CLAIMED";
    case OPOS_E_NOTCLAIMED:
      return "OPOS_E_NOTCLAIMED";
    case OPOS_E_NOSERVICE:
      return "OPOS_E_NOSERVICE";
    case OPOS_E_DISABLED:
      return "OPOS_E_DISABLED";
    case OPOS_E_ILLEGAL:
      return "OPOS_E_ILLEGAL";
    case OPOS_E_NOHARDWARE:
      return "OPOS_E_NOHARDWARE";
    case OPOS_E_OFFLINE:
      return "OPOS_E_OFFLINE";
    case OPOS_E_FAILURE:
      return "OPOS_E_FAILURE";
    case OPOS_E_TIMEOUT:
      return "OPOS_E_TIMEOUT";
    case OPOS_E_BUSY:
      return "OPOS_E_BUSY";
    case OPOS_E_EXTENDED:
      return "OPOS_E_EXTENDED";
    default:
      return "result";
  }
}

const cli::Program kPrintProgram{"opos print",
                                 "--device NAME TEXT",
                                 "print TEXT (with \\x escapes) on a POSPrinter and cut",
                                 {{"device", 0, "NAME", "device key or logical device name"}},
                                 "",
                                 false};
const cli::Program kDrawerProgram{"opos drawer",
                                  "--device NAME",
                                  "open a CashDrawer",
                                  {{"device", 0, "NAME", "device key or logical device name"}},
                                  "",
                                  false};
const cli::Program kRunProgram{
    "opos run",
    "--class POSPrinter|CashDrawer --device NAME [SCRIPT]",
    "run a script of calls through the Control Object",
    {{"class", 0, "CLASS", "POSPrinter or CashDrawer"},
     {"device", 0, "NAME", "device key or logical device name"}},
    "SCRIPT is a file; without it (or with -) the script is read from standard input.\n",
    false};

// --device NAME among the arguments; the rest left in order in *rest. -1 to go
// on, else the exit status.
int TakeDevice(const cli::Program& program, const std::vector<std::string>& args, std::string* device,
               std::vector<std::string>* rest) {
  cli::Parsed parsed;
  const int done = cli::Parse(program, args, &parsed, std::cout, std::cerr);
  if (done >= 0) return done;
  if (const std::string* d = parsed.Get("device")) *device = *d;
  *rest = parsed.operands;
  if (device->empty()) {
    std::fprintf(stderr, "%s: --device NAME is required\n", program.name);
    return kExitUsage;
  }
  return -1;
}

// One step of an everyday job; false (with a message) when it failed.
bool Step(control::ControlObject& co, const char* what, int32_t rc) {
  if (rc == OPOS_SUCCESS) return true;
  std::fprintf(stderr, "opos: %s failed: %d (%s), extended %d\n", what, rc, ResultName(rc),
               co.ResultCodeExtended());
  const std::string detail = co.LastErrorDetail();
  if (!detail.empty()) std::fprintf(stderr, "opos: %s\n", detail.c_str());
  return false;
}

// Open, claim and enable: the start of both everyday jobs.
bool Prepare(control::ControlObject& co, const std::string& device) {
  const int32_t rc = co.Open(device);
  if (rc != OPOS_SUCCESS) {
    std::fprintf(stderr, "opos: cannot open %s %s: %d (%s): %s\n", control::DeviceClassName(co.Class()),
                 device.c_str(), rc, ResultName(rc), co.LastErrorText().c_str());
    return false;
  }
  if (!Step(co, "ClaimDevice", co.ClaimDevice(1000))) return false;
  co.SetDeviceEnabled(true);
  return Step(co, "enabling the device", co.ResultCode());
}

}  // namespace

int RunScript(DeviceClass firstClass, const std::string& firstDevice, const std::vector<Command>& commands,
              FILE* out, FILE* err) {
  Runner runner(out, err);
  return runner.Run(firstClass, firstDevice, commands);
}

int RunCommand(const std::vector<std::string>& args) {
  std::string className, device, scriptPath;
  cli::Parsed parsed;
  const int done = cli::Parse(kRunProgram, args, &parsed, std::cout, std::cerr);
  if (done >= 0) return done;
  if (const std::string* v = parsed.Get("class")) className = *v;
  if (const std::string* v = parsed.Get("device")) device = *v;
  if (parsed.operands.size() > 1) {
    std::fprintf(stderr, "opos run: more than one script given\n");
    return kExitUsage;
  }
  if (!parsed.operands.empty()) scriptPath = parsed.operands[0];
  DeviceClass cls;
  if (className.empty() || !control::ParseDeviceClass(className, &cls)) {
    std::fprintf(stderr, "opos run: --class POSPrinter or --class CashDrawer is required\n");
    return kExitUsage;
  }
  if (device.empty()) {
    std::fprintf(stderr, "opos run: --device NAME is required\n");
    return kExitUsage;
  }

  std::string text;
  if (scriptPath.empty() || scriptPath == "-") {
    if (!ReadAll(std::cin, &text)) {
      std::fprintf(stderr, "opos run: cannot read the script from standard input\n");
      return kExitFailure;
    }
  } else {
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in || !ReadAll(in, &text)) {
      std::fprintf(stderr, "opos run: cannot read %s: %s\n", scriptPath.c_str(), std::strerror(errno));
      return kExitFailure;
    }
  }

  std::vector<Command> commands;
  std::string error;
  if (!ParseScript(text, cls, device, &commands, &error)) {
    std::fprintf(stderr, "opos run: %s\n", error.c_str());
    return kExitUsage;
  }
  return RunScript(cls, device, commands, stdout, stderr);
}

int PrintCommand(const std::vector<std::string>& args) {
  std::string device;
  std::vector<std::string> rest;
  if (const int done = TakeDevice(kPrintProgram, args, &device, &rest); done >= 0) return done;
  if (rest.size() != 1) {
    std::fprintf(stderr, "opos print: give the text to print as one argument\n");
    return kExitUsage;
  }
  std::string text, error;
  if (!DecodeEscapes(rest[0], &text, &error)) {
    std::fprintf(stderr, "opos print: %s\n", error.c_str());
    return kExitUsage;
  }
  control::POSPrinter printer;
  bool ok =
      Prepare(printer, device) && Step(printer, "PrintNormal", printer.PrintNormal(PTR_S_RECEIPT, text));
  if (printer.IsOpen()) ok = Step(printer, "Close", printer.Close()) && ok;
  return ok ? kExitOk : kExitFailure;
}

int DrawerCommand(const std::vector<std::string>& args) {
  std::string device;
  std::vector<std::string> rest;
  if (const int done = TakeDevice(kDrawerProgram, args, &device, &rest); done >= 0) return done;
  if (!rest.empty()) {
    std::fprintf(stderr, "opos drawer: unexpected argument %s\n", rest[0].c_str());
    return kExitUsage;
  }
  control::CashDrawer drawer;
  bool ok = Prepare(drawer, device) && Step(drawer, "OpenDrawer", drawer.OpenDrawer());
  if (drawer.IsOpen()) ok = Step(drawer, "Close", drawer.Close()) && ok;
  return ok ? kExitOk : kExitFailure;
}

}  // namespace opos::tool
