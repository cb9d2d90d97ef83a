// opos: the command-line tool for the OPOS registry store, Service Object
// registration, and scripted or everyday use of devices through the Control
// Objects.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "tools/opos/reg_command.h"
#include "tools/opos/run_command.h"

namespace {

int Usage(FILE* to, int status) {
  std::fprintf(to,
               "usage: opos [--registry PATH] COMMAND ...\n"
               "  reg set KEY NAME (--sz TEXT | --dword N | --binary HEX)\n"
               "  reg get KEY [NAME] | reg list KEY | reg delete KEY [NAME]\n"
               "  reg export [KEY] | reg import FILE\n"
               "  regsvr LIBRARY\n"
               "  run --class POSPrinter|CashDrawer --device NAME [SCRIPT]\n"
               "  print --device NAME TEXT\n"
               "  drawer --device NAME\n"
               "The store is PATH, else $OPOS_REGISTRY, else %s.\n",
               "/var/lib/opos/registry.db");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace opos::tool;
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  while (i < args.size() && args[i].rfind("--", 0) == 0) {
    if (args[i] == "--registry") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        std::fprintf(stderr, "opos: --registry needs a path\n");
        return kExitUsage;
      }
      // The Service Objects and DllRegisterServer find the store through the
      // environment, so the choice must reach them there.
      setenv("OPOS_REGISTRY", args[i + 1].c_str(), 1);
      i += 2;
    } else if (args[i].rfind("--registry=", 0) == 0 && args[i].size() > 11) {
      setenv("OPOS_REGISTRY", args[i].c_str() + 11, 1);
      ++i;
    } else if (args[i] == "--help") {
      return Usage(stdout, kExitOk);
    } else {
      std::fprintf(stderr, "opos: unknown option %s\n", args[i].c_str());
      return Usage(stderr, kExitUsage);
    }
  }
  if (i >= args.size()) return Usage(stderr, kExitUsage);
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  const std::string store = opos::reg::Store::DefaultPath();
  if (command == "reg") return RegCommand(rest, store);
  if (command == "regsvr") return RegsvrCommand(rest, store);
  if (command == "run") return RunCommand(rest);
  if (command == "print") return PrintCommand(rest);
  if (command == "drawer") return DrawerCommand(rest);
  std::fprintf(stderr, "opos: unknown command %s\n", command.c_str());
  return Usage(stderr, kExitUsage);
}
