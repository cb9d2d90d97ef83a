#include "tools/cli/cli.h"

#ifndef OPOS_VERSION
#error "OPOS_VERSION must come from the build"
#endif

namespace opos::cli {

namespace {

const char kExitStatusText[] =
    "Exit status:\n"
    "  0  success\n"
    "  1  failure: the command ran and could not do its work (missing store, key,\n"
    "     model folder or library, device fault, ...); the message names the cause\n"
    "  2  usage: unknown option or command, wrong arguments, script syntax\n";

const Option kHelp{"help", 'h', nullptr, "show this help and exit"};
const Option kVersion{"version", 0, nullptr, "show the version and exit"};

const Option* FindLong(const Program& p, const std::string& name) {
  for (const Option& o : p.options) {
    if (name == o.name) return &o;
  }
  if (name == kHelp.name) return &kHelp;
  if (name == kVersion.name) return &kVersion;
  return nullptr;
}

const Option* FindShort(const Program& p, char c) {
  for (const Option& o : p.options) {
    if (o.shortName != 0 && o.shortName == c) return &o;
  }
  return c == kHelp.shortName ? &kHelp : nullptr;
}

std::string OptionLabel(const Option& o) {
  std::string s = o.shortName ? std::string("-") + o.shortName + ", " : "    ";
  s += "--";
  s += o.name;
  if (o.value) {
    s += ' ';
    s += o.value;
  }
  return s;
}

}  // namespace

const std::string* Parsed::Get(const std::string& name) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
}

std::string HelpText(const Program& p) {
  std::string s = std::string("Usage: ") + p.name + " " + p.synopsis + "\n" + p.summary + "\n\nOptions:\n";
  std::vector<const Option*> all;
  for (const Option& o : p.options) all.push_back(&o);
  all.push_back(&kHelp);
  all.push_back(&kVersion);
  for (const Option* o : all) {
    std::string label = "  " + OptionLabel(*o);
    // help2man takes a line with two spaces between label and text as one option.
    label += label.size() < 30 ? std::string(30 - label.size(), ' ') : "  ";
    s += label + o->help + "\n";
  }
  if (p.details && *p.details) s += std::string("\n") + p.details;
  s += "\n";
  s += kExitStatusText;
  return s;
}

std::string VersionText(const Program& p) {
  return std::string(p.name) + " (opos) " OPOS_VERSION "\n";
}

int Parse(const Program& p, const std::vector<std::string>& args, Parsed* parsed, std::ostream& out,
          std::ostream& err) {
  parsed->options.clear();
  parsed->operands.clear();
  auto usage = [&](const std::string& message) {
    err << p.name << ": " << message << "\n"
        << "Try '" << p.name << " --help' for more information.\n";
    return kExitUsage;
  };
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsDone || a.size() < 2 || a[0] != '-') {
      parsed->operands.push_back(a);
      if (p.optionsBeforeOperands) optionsDone = true;
      continue;
    }
    if (a == "--") {
      optionsDone = true;
      continue;
    }
    const Option* o = nullptr;
    std::string value;
    bool inlineValue = false;
    if (a[1] == '-') {
      const size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      o = FindLong(p, name);
      if (!o) return usage("unknown option --" + name);
      if (eq != std::string::npos) {
        if (!o->value) return usage("--" + name + " takes no value");
        value = a.substr(eq + 1);
        inlineValue = true;
      }
    } else {
      // One short option per word: "-h", or "-r PATH" / "-rPATH" for one with a value.
      o = FindShort(p, a[1]);
      if (!o) return usage(std::string("unknown option -") + a[1]);
      if (a.size() > 2) {
        if (!o->value) return usage("unknown option " + a);
        value = a.substr(2);
        inlineValue = true;
      }
    }
    if (o->value && !inlineValue) {
      if (i + 1 >= args.size())
        return usage(std::string("--") + o->name + " needs a value (" + o->value + ")");
      value = args[++i];
    }
    if (o->value && value.empty())
      return usage(std::string("--") + o->name + " needs a value (" + o->value + ")");
    if (o == &kHelp) {
      out << HelpText(p);
      return kExitOk;
    }
    if (o == &kVersion) {
      out << VersionText(p);
      return kExitOk;
    }
    parsed->options.emplace_back(o->name, value);
  }
  return -1;
}

}  // namespace opos::cli
