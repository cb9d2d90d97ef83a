// The dispatch members of the two Service Object classes, in dispatch order
// (member 1 first), with their argument kinds. One list serves the Service
// Objects, which answer these members, and the Control Objects, which call them.
#pragma once

#include "platform/dispatch.h"

namespace opos {

inline const com::MemberTable& PrinterServiceMembers() {
  using com::VT;
  static const com::MemberTable table({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
      {"OpenService", {VT::String, VT::String, VT::Dispatch}, true},
      {"CheckHealth", {VT::Long}, true},
      {"ClaimDevice", {VT::Long}, true},
      {"ClearOutput", {}, true},
      {"CloseService", {}, true},
      {"DirectIO", {VT::Long, VT::LongRef, VT::StringRef}, true},
      {"ReleaseDevice", {}, true},
      {"BeginInsertion", {VT::Long}, true},
      {"BeginRemoval", {VT::Long}, true},
      {"CutPaper", {VT::Long}, true},
      {"EndInsertion", {}, true},
      {"EndRemoval", {}, true},
      {"PrintBarCode", {VT::Long, VT::String, VT::Long, VT::Long, VT::Long, VT::Long, VT::Long}, true},
      {"PrintBitmap", {VT::Long, VT::String, VT::Long, VT::Long}, true},
      {"PrintImmediate", {VT::Long, VT::String}, true},
      {"PrintNormal", {VT::Long, VT::String}, true},
      {"PrintTwoNormal", {VT::Long, VT::String, VT::String}, true},
      {"RotatePrint", {VT::Long, VT::Long}, true},
      {"SetBitmap", {VT::Long, VT::Long, VT::String, VT::Long, VT::Long}, true},
      {"SetLogo", {VT::Long, VT::String}, true},
      {"TransactionPrint", {VT::Long, VT::Long}, true},
      {"ValidateData", {VT::Long, VT::String}, true},
      {"Claim", {VT::Long}, true},
      {"Release", {}, true},
      {"Close", {}, true},
  });
  return table;
}

inline const com::MemberTable& DrawerServiceMembers() {
  using com::VT;
  static const com::MemberTable table({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
      {"OpenService", {VT::String, VT::String, VT::Dispatch}, true},
      {"CheckHealth", {VT::Long}, true},
      {"ClaimDevice", {VT::Long}, true},
      {"CloseService", {}, true},
      {"DirectIO", {VT::Long, VT::LongRef, VT::StringRef}, true},
      {"ReleaseDevice", {}, true},
      {"OpenDrawer", {}, true},
      {"WaitForDrawerClose", {VT::Long, VT::Long, VT::Long, VT::Long}, true},
      {"Claim", {VT::Long}, true},
      {"Release", {}, true},
      {"Close", {}, true},
  });
  return table;
}

}  // namespace opos
