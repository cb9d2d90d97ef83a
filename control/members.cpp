#include "control/members.h"

#include <strings.h>

namespace opos::control {

using com::VT;

const char* DeviceClassName(DeviceClass c) {
  return c == DeviceClass::POSPrinter ? "POSPrinter" : "CashDrawer";
}

bool ParseDeviceClass(const std::string& name, DeviceClass* out) {
  if (strcasecmp(name.c_str(), "POSPrinter") == 0) {
    *out = DeviceClass::POSPrinter;
    return true;
  }
  if (strcasecmp(name.c_str(), "CashDrawer") == 0) {
    *out = DeviceClass::CashDrawer;
    return true;
  }
  return false;
}

const char* ClassKeyPath(DeviceClass c) {
  return c == DeviceClass::POSPrinter ? "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter"
                                      : "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
}

const com::MemberTable& ControlMembers(DeviceClass c) {
  static const com::MemberTable printer({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
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
  static const com::MemberTable drawer({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
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
  return c == DeviceClass::POSPrinter ? printer : drawer;
}

}  // namespace opos::control
