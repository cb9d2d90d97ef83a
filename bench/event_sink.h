// What the benchmarks' stand-ins for the Control Object share: they live on
// the stack (no reference counting) and know the four event names.
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace opos::bench {

class EventSinkBase : public com::IDispatch {
 public:
  virtual ~EventSinkBase() = default;
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  com::HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override {
    static const char* kNames[] = {"SODirectIO", "SOError", "SOOutputComplete", "SOStatusUpdate"};
    for (int i = 0; i < 4; ++i) {
      if (name == kNames[i]) {
        *dispid = i + 1;
        return com::S_OK;
      }
    }
    return com::DISP_E_UNKNOWNNAME;
  }
};

}  // namespace opos::bench
