// Control Object of the OPOS CashDrawer class.
#pragma once

#include "opos/control_object.h"

namespace opos::control {

class OPOS_CONTROL_API CashDrawer : public ControlObject {
 public:
  CashDrawer() : ControlObject(DeviceClass::CashDrawer) {}

  int32_t OpenDrawer();
  int32_t WaitForDrawerClose(int32_t beepTimeout, int32_t beepFrequency, int32_t beepDuration,
                             int32_t beepDelay);

  bool DrawerOpened();
  bool CapStatus();
};

}  // namespace opos::control
