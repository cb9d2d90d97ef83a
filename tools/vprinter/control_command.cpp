#include "tools/vprinter/control_command.h"

#include <cstdio>
#include <vector>

#include "tools/vprinter/virtual_printer.h"

namespace vprinter {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
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

std::optional<ControlCommand> ParseControlCommand(std::string_view line) {
  const std::vector<std::string_view> w = Words(line);
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

std::string DescribeStatus(VirtualPrinter& printer) {
  const PrinterStatus s = printer.Status();
  const std::array<uint8_t, 4> asb = printer.AsbReport();
  char line[320];
  std::snprintf(line, sizeof line,
                "status power=%s online=%s cover=%s paper=%s drawer=%s asb_mask=%02X asb=%02X%02X%02X%02X "
                "received=%llu discarded=%llu unprinted=%llu kicks=%u",
                s.powered ? "on" : "off", s.offline ? "no" : "yes", s.coverOpen ? "open" : "closed",
                s.paperEnd ? "end" : "ok", s.drawerOpen ? "open" : "closed", s.asbMask, asb[0], asb[1],
                asb[2], asb[3], static_cast<unsigned long long>(s.bytesReceived),
                static_cast<unsigned long long>(s.bytesDiscarded),
                static_cast<unsigned long long>(s.unprintedWork), s.drawerKicks);
  return line;
}

std::string ApplyControlCommand(VirtualPrinter& printer, ControlCommand command) {
  switch (command) {
    case ControlCommand::CoverOpen:
      printer.SetCoverOpen(true);
      break;
    case ControlCommand::CoverClose:
      printer.SetCoverOpen(false);
      break;
    case ControlCommand::PaperEnd:
      printer.SetPaperEnd(true);
      break;
    case ControlCommand::PaperOk:
      printer.SetPaperEnd(false);
      break;
    case ControlCommand::PowerOff:
      printer.SetPower(false);
      break;
    case ControlCommand::PowerOn:
      printer.SetPower(true);
      break;
    case ControlCommand::DrawerOpen:
      printer.OpenDrawer();
      break;
    case ControlCommand::DrawerClose:
      printer.CloseDrawer();
      break;
    case ControlCommand::Offline:
      printer.SetOnline(false);
      break;
    case ControlCommand::Online:
      printer.SetOnline(true);
      break;
    case ControlCommand::Status:
      return DescribeStatus(printer);
  }
  return {};
}

}  // namespace vprinter
