#include "tests/service/fake_library.h"

namespace opos {

namespace test {

namespace {
std::unique_ptr<CPortObject> MakeFakePort() {
  return std::make_unique<FakePort>();
}

LibraryProfile gProfile;
}  // namespace

LibraryProfile& TestProfile() {
  return gProfile;
}

void UseProfile(TransportKind kind) {
  const bool serial = kind == TransportKind::Serial;
  const bool usb = kind == TransportKind::Usb;
  gProfile.name = serial ? "serialso" : usb ? "usbso" : "parallelso";
  gProfile.transport = kind;
  gProfile.printerProgId = serial ? "KELVORA.RecPrinter.SO"
                           : usb  ? "KELVORA.RecPrinter.SOU"
                                  : "KELVORA.RecPrinter.SOP";
  gProfile.drawerProgId = serial ? "KELVORA.CashDrawer.SO"
                          : usb  ? "KELVORA.CashDrawer.SOU"
                                 : "KELVORA.CashDrawer.SOP";
  gProfile.printerVersion = serial ? 1004001 : 1003000;
  gProfile.drawerVersion = serial ? 1003001 : 1003000;
  gProfile.minClaimTimeoutMs = serial ? 1000 : 3000;
  gProfile.releasePumpWaitsPrinter = serial ? 1 : 3;
  gProfile.printerErrorStationInit = serial ? 0 : 2;
  gProfile.createPort = &MakeFakePort;
}

}  // namespace test

const LibraryProfile& ThisLibrary() {
  if (!test::TestProfile().createPort) test::UseProfile(TransportKind::Serial);
  return test::TestProfile();
}

}  // namespace opos
