#include "tools/vprinter/control_command.h"

#include <cstdio>
#include <vector>

#include "tools/vprinter/virtual_printer.h"

namespace vprinter {

namespace {

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (i < line.size()) {
    while (i < line.size() && blank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !blank(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::optional<ControlCommand> parse_control_command(std::string_view line) {
  const std::vector<std::string_view> w = words(line);
  if (w.size() == 1) {
    if (w[0] == "offline") return ControlCommand::Offline;
    if (w[0] == "online") return ControlCommand::Online;
    if (w[0] == "status") return ControlCommand::Status;
    return std::nullopt;
  }
  if (w.size() != 2) return std::nullopt;
  struct Entry {
    std::string_view first, second;
    ControlCommand command;
  };
  static constexpr Entry kTable[] = {
      {"cover", "open", ControlCommand::CoverOpen},   {"cover", "close", ControlCommand::CoverClose},
      {"paper", "end", ControlCommand::PaperEnd},     {"paper", "ok", ControlCommand::PaperOk},
      {"power", "off", ControlCommand::PowerOff},     {"power", "on", ControlCommand::PowerOn},
      {"drawer", "open", ControlCommand::DrawerOpen}, {"drawer", "close", ControlCommand::DrawerClose},
  };
  for (const Entry& e : kTable) {
    if (w[0] == e.first && w[1] == e.second) return e.command;
  }
  return std::nullopt;
}

std::string describe_status(VirtualPrinter& printer) {
  const PrinterStatus s = printer.status();
  const std::array<uint8_t, 4> asb = printer.asb_report();
  char line[320];
  std::snprintf(line, sizeof line,
                "status power=%s online=%s cover=%s paper=%s drawer=%s asb_mask=%02X asb=%02X%02X%02X%02X "
                "received=%llu discarded=%llu unprinted=%llu kicks=%u",
                s.powered ? "on" : "off", s.offline ? "no" : "yes", s.cover_open ? "open" : "closed",
                s.paper_end ? "end" : "ok", s.drawer_open ? "open" : "closed", s.asb_mask, asb[0], asb[1],
                asb[2], asb[3], static_cast<unsigned long long>(s.bytes_received),
                static_cast<unsigned long long>(s.bytes_discarded),
                static_cast<unsigned long long>(s.unprinted_work), s.drawer_kicks);
  return line;
}

std::string apply_control_command(VirtualPrinter& printer, ControlCommand command) {
  switch (command) {
    case ControlCommand::CoverOpen:
      printer.set_cover_open(true);
      break;
    case ControlCommand::CoverClose:
      printer.set_cover_open(false);
      break;
    case ControlCommand::PaperEnd:
      printer.set_paper_end(true);
      break;
    case ControlCommand::PaperOk:
      printer.set_paper_end(false);
      break;
    case ControlCommand::PowerOff:
      printer.set_power(false);
      break;
    case ControlCommand::PowerOn:
      printer.set_power(true);
      break;
    case ControlCommand::DrawerOpen:
      printer.open_drawer();
      break;
    case ControlCommand::DrawerClose:
      printer.close_drawer();
      break;
    case ControlCommand::Offline:
      printer.set_online(false);
      break;
    case ControlCommand::Online:
      printer.set_online(true);
      break;
    case ControlCommand::Status:
      return describe_status(printer);
  }
  return {};
}

}  // namespace vprinter
