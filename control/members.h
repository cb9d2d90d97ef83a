// The dispatch members a Control Object offers for each device class: the
// Service Object's members of that class except OpenService, which Open
// performs itself.
#pragma once

#include "opos/api.h"
#include "opos/device_class.h"
#include "platform/dispatch.h"

namespace opos::control {

// Members in dispatch order, with their argument kinds and result kind.
OPOS_CONTROL_API const com::MemberTable& ControlMembers(DeviceClass c);

}  // namespace opos::control
