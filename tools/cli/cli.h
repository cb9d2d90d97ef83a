// The command-line front shared by opos, devsetup and vprinter: one option
// table per program drives parsing, the --help text and, through help2man,
// the man page, so the three can never drift apart.
//
// Conventions: -h/--help and --version on every program; --opt=value and
// --opt value; "--" ends the options. Exit statuses: kExitOk, kExitFailure,
// kExitUsage.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace opos::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran and failed
inline constexpr int kExitUsage = 2;    // bad options, arguments or script

struct Option {
  const char* name;   // long name without "--"
  char shortName;     // 0: none
  const char* value;  // value placeholder ("PATH"); nullptr: a flag
  const char* help;
};

struct Program {
  const char* name;
  const char* synopsis;         // after the program name: "[OPTIONS] COMMAND ..."
  const char* summary;          // one line, what the program is (the man page's NAME)
  std::vector<Option> options;  // -h/--help and --version are added
  const char* details;          // commands, notes: free text after the options
  // Options end at the first operand (the command) so that the command's own
  // arguments may start with "-"; otherwise options and operands mix.
  bool optionsBeforeOperands;
};

struct Parsed {
  std::vector<std::pair<std::string, std::string>> options;  // long name, value ("" for flags), in order
  std::vector<std::string> operands;
  // Last value of an option; nullptr when not given.
  const std::string* Get(const std::string& name) const;
  bool Has(const std::string& name) const { return Get(name) != nullptr; }
};

// The text --help prints.
std::string HelpText(const Program& program);
// The text --version prints.
std::string VersionText(const Program& program);

// Parses args (without the program name). Returns -1 to go on with *parsed;
// otherwise the exit status, after printing help or the version to out, or
// the fault with a hint to err.
int Parse(const Program& program, const std::vector<std::string>& args, Parsed* parsed, std::ostream& out,
          std::ostream& err);

}  // namespace opos::cli
