// The command-line front of devsetup: every action of the main window and its
// dialogs as a command, on the same model.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "setup/device_test.h"
#include "setup/opos_cls.h"
#include "tools/cli/cli.h"

namespace opos::setup {

// Runs the settings dialog's test on the loaded device through the Control
// Objects, with the registry store at registryPath; puts a reason into
// *unavailable when they cannot be had, and hints for the user into *notes.
using TestRunner =
    std::function<std::vector<TestMessage>(const OPOSCls& device, const std::string& registryPath,
                                           std::vector<std::string>* notes, std::string* unavailable)>;

// Options, commands and help text of devsetup (shared with its windows' front).
const cli::Program& DevsetupProgram();

// args without the program name. Returns the exit status: 0 done, 1 failed (with
// a message on err), 2 bad usage. tester may be empty.
int RunDevsetup(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const TestRunner& tester);

}  // namespace opos::setup
