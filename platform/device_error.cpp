// errno to IoStatus and text: the same on every system, since the device
// functions of each report their failures through errno.
#include <cerrno>
#include <system_error>

#include "platform/device_io.h"

namespace opos::platform {

IoStatus ClassifyDeviceError(int err) {
  switch (err) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return IoStatus::kTimedOut;
    case EIO:
    case ENODEV:
    case ENXIO:
    case EPIPE:
#ifdef ESHUTDOWN
    case ESHUTDOWN:
#endif
    case EBADF:
      return IoStatus::kLost;
    default:
      return IoStatus::kFailed;
  }
}

std::string ErrorText(int err) {
  return std::generic_category().message(err);
}

}  // namespace opos::platform
