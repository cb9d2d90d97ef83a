#include "drawer/cash_drawer.h"

#include "platform/message_queue.h"

namespace opos {

using com::HRESULT;
using com::Variant;
using com::VT;

CCashDrawer::CCashDrawer() : CServiceObject(ThisLibrary(), true) {}

CCashDrawer::~CCashDrawer() {
  if (claimed_.load()) ReleaseDevice();
}

const com::MemberTable& CCashDrawer::Members() const {
  static const com::MemberTable table({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
      {"OpenService", {VT::String, VT::String, VT::Dispatch}, true},
      {"CheckHealth", {VT::Long}, true},
      {"ClaimDevice", {VT::Long}, true},
      {"CloseService", {}, true},
      {"DirectIO", {VT::Long, VT::LongRef, VT::StringRef}, true},
      {"ReleaseDevice", {}, true},
      {"OpenDrawer", {}, true},
      {"WaitForDrawerClose", {VT::Long, VT::Long, VT::Long, VT::Long}, true},
      {"Claim", {VT::Long}, true},
      {"Release", {}, true},
      {"Close", {}, true},
  });
  return table;
}

HRESULT CCashDrawer::CallMember(size_t index, std::vector<Variant>& a, Variant* r) {
  int32_t l[4] = {};
  for (size_t i = 0; i < a.size() && i < 4; ++i) a[i].AsLong(&l[i]);
  switch (index) {
    case 6: *r = Variant::Long(CheckHealth(l[0])); return com::S_OK;
    case 9: *r = Variant::Long(DirectIO(l[0], a[1].plVal, a[2].pstrVal)); return com::S_OK;
    case 11: *r = Variant::Long(OpenDrawer()); return com::S_OK;
    case 12: *r = Variant::Long(WaitForDrawerClose(l[0], l[1], l[2], l[3])); return com::S_OK;
    default: return com::DISP_E_MEMBERNOTFOUND;
  }
}

void CCashDrawer::DeliverEvent(CSOEvent& e) {
  if (e.kind == SOE_DIRECTIO) {
    std::vector<Variant> args{Variant::Long(e.param1), Variant::LongRef(&e.param2), Variant::StringRef(&e.text)};
    CallControlObject(0, args);
  } else if (e.kind == SOE_STATUSUPDATE) {
    std::vector<Variant> args{Variant::Long(e.param1)};
    CallControlObject(1, args);
  }
}

void CCashDrawer::OnClaimStartWorkers() {}

void CCashDrawer::OnEnabled() {
  for (int i = 0; i < 3; ++i) platform::PumpWait();
}

void CCashDrawer::OnReleaseStopWorkers() {}

int32_t CCashDrawer::GetPropertyNumber(int32_t index) {
  return CServiceObject::GetPropertyNumber(index);
}

int32_t CCashDrawer::CheckHealth(int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CCashDrawer::DirectIO(int32_t, int32_t*, std::string*) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CCashDrawer::OpenDrawer() { return SetResult(OPOS_E_ILLEGAL); }
int32_t CCashDrawer::WaitForDrawerClose(int32_t, int32_t, int32_t, int32_t) { return SetResult(OPOS_E_ILLEGAL); }

}  // namespace opos
