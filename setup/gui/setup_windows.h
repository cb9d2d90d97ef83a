// devsetup with windows: opens the registry store and shows the main window.
#pragma once

#include <string>

#include "setup/devsetup_cli.h"

namespace opos::setup::gui {

struct WindowsOptions {
  std::string registryPath;  // empty: $OPOS_REGISTRY, else the system store
  std::string modelDir;      // empty: the program's own directory
};

// Whether there is a screen to show the windows on: an X or Wayland display, or
// a Qt platform chosen by hand that shows them to a person.
bool DisplayAvailable();

// Runs the windows until the user leaves; returns the exit status.
int RunSetupWindows(int argc, char** argv, const WindowsOptions& options, const TestRunner& tester);

}  // namespace opos::setup::gui
