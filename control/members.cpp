#include "control/members.h"

#include <strings.h>

#include "common/registry_keys.h"
#include "platform/so_members.h"

namespace opos::control {

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
  return c == DeviceClass::POSPrinter ? kPosPrinterClassKey : kCashDrawerClassKey;
}

namespace {

// The Service Object's members without OpenService, which Open performs itself.
com::MemberTable WithoutOpenService(const com::MemberTable& service) {
  std::vector<com::Member> members;
  for (const com::Member& m : service.Members()) {
    if (strcasecmp(m.name, "OpenService") != 0) members.push_back(m);
  }
  return com::MemberTable(std::move(members));
}

}  // namespace

const com::MemberTable& ControlMembers(DeviceClass c) {
  static const com::MemberTable printer = WithoutOpenService(PrinterServiceMembers());
  static const com::MemberTable drawer = WithoutOpenService(DrawerServiceMembers());
  return c == DeviceClass::POSPrinter ? printer : drawer;
}

}  // namespace opos::control
