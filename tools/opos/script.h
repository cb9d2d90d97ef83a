// The script language of `opos run`: one command per line.
//
//   Method arg ...         call a member of the current device by name; integers
//                          (decimal, negative, 0x hex) and "strings" with C escapes
//   Pump MS                deliver events for MS milliseconds
//   Sleep MS               wait without delivering events
//   Answer N               answer every later Error event with N
//   Open CLASS NAME        open a further device and make it current
//   Select [CLASS] NAME    make an opened device current again
//   # ...                  comment (also after a command); blank lines are skipped
//
// The whole script is parsed and checked against the Control Objects' member
// tables before anything runs, so a faulty line stops it before the first call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/members.h"

namespace opos::tool {

struct ScriptArg {
  bool isString = false;
  int32_t number = 0;
  std::string text;
};

struct Command {
  enum Kind { kCall, kPump, kSleep, kAnswer, kOpen, kSelect };
  Kind kind = kCall;
  int line = 0;
  std::string member;           // kCall: the member's name as the member table spells it
  std::vector<ScriptArg> args;  // kCall
  int32_t number = 0;           // kPump, kSleep: milliseconds; kAnswer: the response
  bool hasClass = false;        // kSelect: whether a class was named
  control::DeviceClass deviceClass = control::DeviceClass::POSPrinter;  // kOpen, kSelect
  std::string device;                                                   // kOpen, kSelect
};

// One line. Returns false with a message (without the line prefix) on a fault;
// *out stays empty for a blank or comment line. Calls are not checked against
// any member table here.
bool ParseLine(const std::string& text, int line, std::optional<Command>* out, std::string* error);

// A whole script, starting with firstDevice of firstClass current: every line
// parsed, every call checked against the member table of the device current at
// that line (unknown member, argument count, argument kinds), every Select
// matched to an earlier Open. On a fault returns false with "line N: ...".
bool ParseScript(const std::string& text, control::DeviceClass firstClass, const std::string& firstDevice,
                 std::vector<Command>* out, std::string* error);

// Integer literal: optional sign, decimal or 0x hex; hex may give all 32 bits
// (0xFFFFFFFF is -1). False when malformed or out of range.
bool ParseInt32(const std::string& token, int32_t* out);

}  // namespace opos::tool
