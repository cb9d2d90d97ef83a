// opos: the command-line tool for the OPOS registry store, Service Object
// registration, and scripted or everyday use of devices through the Control
// Objects.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "tools/cli/cli.h"
#include "tools/opos/reg_command.h"
#include "tools/opos/run_command.h"

namespace {

const opos::cli::Program kProgram{
    "opos",
    "[OPTIONS] COMMAND [ARGUMENTS]",
    "OPOS registry store, Service Object registration and device sessions",
    {
        {"registry", 'r', "PATH", "registry store (else $OPOS_REGISTRY, else /var/lib/opos/registry.db)"},
    },
    "Reads and writes the OPOS registry store, registers Service Object libraries and\n"
    "drives devices through the Control Objects.\n"
    "\n"
    "Commands:\n"
    "  reg set KEY NAME (--sz TEXT | --dword N | --binary HEX)\n"
    "  reg get KEY [NAME] | reg list KEY | reg delete KEY [NAME]\n"
    "  reg export [KEY] | reg import FILE\n"
    "  regsvr LIBRARY                    register a Service Object library\n"
    "  regsvr -u LIBRARY                 remove the registration of a library\n"
    "  run --class POSPrinter|CashDrawer --device NAME [SCRIPT]\n"
    "  print --device NAME TEXT\n"
    "  drawer --device NAME\n"
    "\n"
    "Reading commands never create a store. The chosen store reaches the Service\n"
    "Objects through $OPOS_REGISTRY.\n",
    true,
};

}  // namespace

int main(int argc, char** argv) {
  using namespace opos::tool;
  const std::vector<std::string> args(argv + 1, argv + argc);
  opos::cli::Parsed parsed;
  const int done = opos::cli::Parse(kProgram, args, &parsed, std::cout, std::cerr);
  if (done >= 0) return done;
  // The Service Objects and DllRegisterServer find the store through the
  // environment, so the choice must reach them there.
  if (const std::string* path = parsed.Get("registry")) opos::reg::Store::SetDefaultPath(*path);
  if (parsed.operands.empty()) {
    std::cerr << opos::cli::HelpText(kProgram);
    return kExitUsage;
  }
  const std::string command = parsed.operands[0];
  const std::vector<std::string> rest(parsed.operands.begin() + 1, parsed.operands.end());
  const std::string store = opos::reg::Store::DefaultPath();
  if (command == "reg") return RegCommand(rest, store);
  if (command == "regsvr") return RegsvrCommand(rest, store);
  if (command == "run") return RunCommand(rest);
  if (command == "print") return PrintCommand(rest);
  if (command == "drawer") return DrawerCommand(rest);
  std::cerr << "opos: unknown command " << command << "\nTry 'opos --help' for more information.\n";
  return kExitUsage;
}
