#include "setup/devsetup_test_runner.h"

namespace opos::setup {

TestRunner ControlTestRunner() {
  return {};
}

}  // namespace opos::setup
