#include "opos/cash_drawer.h"

#include "common/opos.h"
#include "platform/dispatch.h"

namespace opos::control {

using com::Variant;

int32_t CashDrawer::OpenDrawer() {
  return CallLong("OpenDrawer", {});
}

int32_t CashDrawer::WaitForDrawerClose(int32_t beepTimeout, int32_t beepFrequency, int32_t beepDuration,
                                       int32_t beepDelay) {
  return CallLong("WaitForDrawerClose", {Variant::Long(beepTimeout), Variant::Long(beepFrequency),
                                         Variant::Long(beepDuration), Variant::Long(beepDelay)});
}

bool CashDrawer::DrawerOpened() {
  return GetPropertyNumber(PIDXCash_DrawerOpened) != 0;
}
bool CashDrawer::CapStatus() {
  return GetPropertyNumber(PIDXCash_CapStatus) != 0;
}

}  // namespace opos::control
