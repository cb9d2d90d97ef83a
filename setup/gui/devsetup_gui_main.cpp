// devsetup: without a command, the windows; with one, the command-line front.
#include <iostream>
#include <string>
#include <vector>

#include "setup/devsetup_cli.h"
#include "setup/devsetup_test_runner.h"
#include "setup/gui/setup_windows.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // Only the options that also apply to the windows, each with its value.
  opos::setup::gui::WindowsOptions options;
  bool windows = true;
  for (size_t i = 0; i < args.size() && windows; i += 2) {
    const bool known = args[i] == "--registry" || args[i] == "--models";
    if (!known || i + 1 >= args.size()) {
      windows = false;
    } else {
      (args[i] == "--registry" ? options.registryPath : options.modelDir) = args[i + 1];
    }
  }
  if (!windows) {
    return opos::setup::RunDevsetup(args, std::cout, std::cerr, opos::setup::ControlTestRunner());
  }
  if (!opos::setup::gui::DisplayAvailable()) {
    std::cerr << "devsetup: no display to show the windows on (DISPLAY is not set); "
                 "use its commands instead:\n";
    opos::setup::RunDevsetup({"--help"}, std::cerr, std::cerr, {});
    return 2;
  }
  return opos::setup::gui::RunSetupWindows(argc, argv, options, opos::setup::ControlTestRunner());
}
