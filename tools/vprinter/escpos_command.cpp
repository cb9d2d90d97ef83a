#include "tools/vprinter/escpos_command.h"

#include <cstdio>

namespace vprinter {

const char* CommandKindName(CommandKind kind) {
  switch (kind) {
    case CommandKind::Text:
      return "Text";
    case CommandKind::LineFeed:
      return "LF";
    case CommandKind::CarriageReturn:
      return "CR";
    case CommandKind::HorizontalTab:
      return "HT";
    case CommandKind::FormFeed:
      return "FF";
    case CommandKind::Cancel:
      return "CAN";
    case CommandKind::Bell:
      return "BEL";
    case CommandKind::Ignored:
      return "Ignored";
    case CommandKind::Initialize:
      return "ESC @";
    case CommandKind::PrintMode:
      return "ESC !";
    case CommandKind::CharacterSize:
      return "GS !";
    case CommandKind::Justification:
      return "ESC a";
    case CommandKind::Underline:
      return "ESC -";
    case CommandKind::Emphasis:
      return "ESC E";
    case CommandKind::DoubleStrike:
      return "ESC G";
    case CommandKind::Reverse:
      return "GS B";
    case CommandKind::LineSpacing:
      return "ESC 3";
    case CommandKind::DefaultLineSpacing:
      return "ESC 2";
    case CommandKind::FeedLines:
      return "ESC d";
    case CommandKind::FeedDots:
      return "ESC J";
    case CommandKind::SelectFont:
      return "ESC M";
    case CommandKind::PrintColor:
      return "ESC r";
    case CommandKind::CodeTable:
      return "ESC t";
    case CommandKind::InternationalSet:
      return "ESC R";
    case CommandKind::UpsideDown:
      return "ESC {";
    case CommandKind::Rotate90:
      return "ESC V";
    case CommandKind::RightSpacing:
      return "ESC SP";
    case CommandKind::HriFont:
      return "GS f";
    case CommandKind::BarcodeWidth:
      return "GS w";
    case CommandKind::BarcodeHeight:
      return "GS h";
    case CommandKind::HriPosition:
      return "GS H";
    case CommandKind::Barcode:
      return "GS k";
    case CommandKind::DefineImage:
      return "GS *";
    case CommandKind::PrintImage:
      return "GS /";
    case CommandKind::PrintNvLogo:
      return "FS p";
    case CommandKind::BitImage:
      return "ESC *";
    case CommandKind::RasterImage:
      return "GS v 0";
    case CommandKind::PageMode:
      return "ESC L";
    case CommandKind::PrintDirection:
      return "ESC T";
    case CommandKind::PrintArea:
      return "ESC W";
    case CommandKind::PrintPage:
      return "ESC FF";
    case CommandKind::StandardMode:
      return "ESC S";
    case CommandKind::PartialCut:
      return "ESC m";
    case CommandKind::FullCut:
      return "ESC i";
    case CommandKind::Cut:
      return "GS V";
    case CommandKind::DrawerKick:
      return "ESC p";
    case CommandKind::AutoStatusBack:
      return "GS a";
    case CommandKind::ProcessIdRequest:
      return "GS ( H";
    case CommandKind::ExtendedCommand:
      return "GS (";
    case CommandKind::RealTimeStatus:
      return "DLE EOT";
    case CommandKind::RealTimeRequest:
      return "DLE ENQ";
    case CommandKind::RealTimePulse:
      return "DLE DC4";
    case CommandKind::OtherKnown:
      return "Other";
    case CommandKind::Unknown:
      return "Unknown";
  }
  return "?";
}

bool IsCut(CommandKind kind) {
  return kind == CommandKind::PartialCut || kind == CommandKind::FullCut || kind == CommandKind::Cut;
}

std::string Command::Describe() const {
  std::string out = CommandKindName(kind);
  char buf[32];
  std::snprintf(buf, sizeof buf, " @%llu len %llu [", static_cast<unsigned long long>(offset),
                static_cast<unsigned long long>(length));
  out += buf;
  for (size_t i = 0; i < head.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", head[i]);
    out += buf;
  }
  out += "]";
  if (kind == CommandKind::Text) {
    out += " \"";
    for (uint8_t b : data) {
      if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
        out += static_cast<char>(b);
      } else {
        std::snprintf(buf, sizeof buf, "\\x%02X", b);
        out += buf;
      }
    }
    out += "\"";
  } else if (!data.empty()) {
    std::snprintf(buf, sizeof buf, " data %zu%s", data.size(), truncated ? "+" : "");
    out += buf;
  }
  if (!valid) out += " invalid";
  return out;
}

}  // namespace vprinter
