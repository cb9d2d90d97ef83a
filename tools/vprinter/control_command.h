// The program's control channel: one command a line ("cover open", "power off", ...).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vprinter {

class VirtualPrinter;

enum class ControlCommand {
  CoverOpen,
  CoverClose,
  PaperEnd,
  PaperOk,
  PowerOff,
  PowerOn,
  DrawerOpen,
  DrawerClose,
  Offline,
  Online,
  Status,
};

// Parses one line; blanks around and between the words do not matter. nullopt for
// anything else (an empty line included).
std::optional<ControlCommand> ParseControlCommand(std::string_view line);

// Carries out a command. Returns the text to print for "status", else empty.
std::string ApplyControlCommand(VirtualPrinter& printer, ControlCommand command);

// One line describing the printer's state, e.g. for "status".
std::string DescribeStatus(VirtualPrinter& printer);

}  // namespace vprinter
