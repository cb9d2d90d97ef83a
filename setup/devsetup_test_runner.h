// The test runner that drives the OPOS Control Objects, when they are built in.
#pragma once

#include "setup/devsetup_cli.h"

namespace opos::setup {

// Empty when this devsetup has no Control Objects.
TestRunner ControlTestRunner();

}  // namespace opos::setup
