// devsetup: with arguments, the command-line front; the windows come later.
#include <iostream>

#include "setup/devsetup_cli.h"
#include "setup/devsetup_test_runner.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return opos::setup::RunDevsetup(args, std::cout, std::cerr, opos::setup::ControlTestRunner());
}
