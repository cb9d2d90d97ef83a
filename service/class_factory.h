// The class factory of one Service Object class.
#pragma once

#include "platform/dispatch.h"
#include "service/object_count.h"

namespace opos {

template <typename T>
class CClassFactory final : public com::IClassFactory {
 public:
  // Factories are static objects of the library; their count never frees them.
  uint32_t AddRef() override { return 2; }
  uint32_t Release() override { return 1; }
  com::HRESULT CreateInstance(com::IDispatch** out) override {
    if (!out) return com::E_POINTER;
    *out = new T();
    return com::S_OK;
  }
  com::HRESULT LockServer(bool lock) override {
    if (lock)
      ObjectCount::Lock();
    else
      ObjectCount::Unlock();
    return com::S_OK;
  }
};

}  // namespace opos
