// One pending event for the Control Object. Created by the raising thread,
// owned by the event queue once queued, destroyed after delivery or purge.
#pragma once

#include <cstdint>
#include <string>

#include "common/opos.h"

namespace opos {

class CSOEvent {
 public:
  CSOEvent(int32_t k, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, int32_t p4 = 0)
      : kind(k), param1(p1), param2(p2), param3(p3), param4(p4) {}
  virtual ~CSOEvent() = default;

  int32_t kind;
  int32_t param1, param2, param3, param4;
  std::string text;  // SOE_DIRECTIO: the String argument
};

}  // namespace opos
