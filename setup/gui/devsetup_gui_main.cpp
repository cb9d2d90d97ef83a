// devsetup: without a command, the windows; with one, the command-line front.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "setup/devsetup_cli.h"
#include "setup/devsetup_test_runner.h"
#include "setup/gui/setup_windows.h"
#include "tools/cli/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The same parse as the command-line front; any command, --help or fault
  // goes there so that it answers exactly as without the windows.
  opos::cli::Parsed parsed;
  std::ostringstream quiet;
  const bool windows = opos::cli::Parse(opos::setup::DevsetupProgram(), args, &parsed, quiet, quiet) < 0 &&
                       parsed.operands.empty();
  if (!windows) {
    return opos::setup::RunDevsetup(args, std::cout, std::cerr, opos::setup::ControlTestRunner());
  }
  opos::setup::gui::WindowsOptions options;
  if (const std::string* v = parsed.Get("registry")) options.registryPath = *v;
  if (const std::string* v = parsed.Get("models")) options.modelDir = *v;
  if (!opos::setup::gui::DisplayAvailable()) {
    std::cerr << "devsetup: no display to show the windows on (DISPLAY is not set); "
                 "use its commands instead:\n";
    opos::setup::RunDevsetup({"--help"}, std::cerr, std::cerr, {});
    return opos::cli::kExitUsage;
  }
  return opos::setup::gui::RunSetupWindows(argc, argv, options, opos::setup::ControlTestRunner());
}
