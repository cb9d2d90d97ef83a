// The cash drawer Service Object: opened through the printer's drawer-kick
// connector and sensed through the printer's status reports.
#pragma once

#include "common/port_object.h"
#include "service/service_object.h"

namespace opos {

class CCashDrawer : public CServiceObject, public IDrawerLink {
 public:
  CCashDrawer();
  ~CCashDrawer() override;

  int32_t CheckHealth(int32_t level);
  int32_t DirectIO(int32_t command, int32_t* data, std::string* text);
  int32_t OpenDrawer();
  int32_t WaitForDrawerClose(int32_t beepTimeout, int32_t beepFrequency, int32_t beepDuration,
                             int32_t beepDelay);

  int32_t GetPropertyNumber(int32_t index) override;

 protected:
  const com::MemberTable& Members() const override;
  com::HRESULT CallMember(size_t index, std::vector<com::Variant>& args, com::Variant* result) override;
  std::vector<std::string> EventMethodNames() const override { return {"SODirectIO", "SOStatusUpdate"}; }
  void DeliverEvent(CSOEvent& record) override;
  void OnClaimStartWorkers() override;
  void OnEnabled() override;
  void OnReleaseStopWorkers() override;
};

}  // namespace opos
