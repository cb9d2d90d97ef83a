#include "printer/pos_printer.h"

namespace opos {

using com::HRESULT;
using com::Variant;
using com::VT;

CPOSPrinter::CPOSPrinter() : CServiceObject(ThisLibrary(), false) {}

CPOSPrinter::~CPOSPrinter() {
  if (claimed_.load()) ReleaseDevice();
}

const com::MemberTable& CPOSPrinter::Members() const {
  static const com::MemberTable table({
      {"COFreezeEvents", {VT::Long}, true},
      {"GetPropertyNumber", {VT::Long}, true},
      {"SetPropertyNumber", {VT::Long, VT::Long}, false},
      {"GetPropertyString", {VT::Long}, true, true},
      {"SetPropertyString", {VT::Long, VT::String}, false},
      {"OpenService", {VT::String, VT::String, VT::Dispatch}, true},
      {"CheckHealth", {VT::Long}, true},
      {"ClaimDevice", {VT::Long}, true},
      {"ClearOutput", {}, true},
      {"CloseService", {}, true},
      {"DirectIO", {VT::Long, VT::LongRef, VT::StringRef}, true},
      {"ReleaseDevice", {}, true},
      {"BeginInsertion", {VT::Long}, true},
      {"BeginRemoval", {VT::Long}, true},
      {"CutPaper", {VT::Long}, true},
      {"EndInsertion", {}, true},
      {"EndRemoval", {}, true},
      {"PrintBarCode", {VT::Long, VT::String, VT::Long, VT::Long, VT::Long, VT::Long, VT::Long}, true},
      {"PrintBitmap", {VT::Long, VT::String, VT::Long, VT::Long}, true},
      {"PrintImmediate", {VT::Long, VT::String}, true},
      {"PrintNormal", {VT::Long, VT::String}, true},
      {"PrintTwoNormal", {VT::Long, VT::String, VT::String}, true},
      {"RotatePrint", {VT::Long, VT::Long}, true},
      {"SetBitmap", {VT::Long, VT::Long, VT::String, VT::Long, VT::Long}, true},
      {"SetLogo", {VT::Long, VT::String}, true},
      {"TransactionPrint", {VT::Long, VT::Long}, true},
      {"ValidateData", {VT::Long, VT::String}, true},
      {"Claim", {VT::Long}, true},
      {"Release", {}, true},
      {"Close", {}, true},
  });
  return table;
}

HRESULT CPOSPrinter::CallMember(size_t index, std::vector<Variant>& a, Variant* r) {
  int32_t l[7] = {};
  std::string s[7];
  for (size_t i = 0; i < a.size() && i < 7; ++i) {
    a[i].AsLong(&l[i]);
    a[i].AsString(&s[i]);
  }
  int32_t rc;
  switch (index) {
    case 6: rc = CheckHealth(l[0]); break;
    case 8: rc = ClearOutput(); break;
    case 10: rc = DirectIO(l[0], a[1].plVal, a[2].pstrVal); break;
    case 12: rc = BeginInsertion(l[0]); break;
    case 13: rc = BeginRemoval(l[0]); break;
    case 14: rc = CutPaper(l[0]); break;
    case 15: rc = EndInsertion(); break;
    case 16: rc = EndRemoval(); break;
    case 17: rc = PrintBarCode(l[0], s[1], l[2], l[3], l[4], l[5], l[6]); break;
    case 18: rc = PrintBitmap(l[0], s[1], l[2], l[3]); break;
    case 19: rc = PrintImmediate(l[0], s[1]); break;
    case 20: rc = PrintNormal(l[0], s[1]); break;
    case 21: rc = PrintTwoNormal(l[0], s[1], s[2]); break;
    case 22: rc = RotatePrint(l[0], l[1]); break;
    case 23: rc = SetBitmap(l[0], l[1], s[2], l[3], l[4]); break;
    case 24: rc = SetLogo(l[0], s[1]); break;
    case 25: rc = TransactionPrint(l[0], l[1]); break;
    case 26: rc = ValidateData(l[0], s[1]); break;
    default: return com::DISP_E_MEMBERNOTFOUND;
  }
  *r = Variant::Long(rc);
  return com::S_OK;
}

void CPOSPrinter::DeliverEvent(CSOEvent& e) {
  switch (e.kind) {
    case SOE_DIRECTIO: {
      std::vector<Variant> args{Variant::Long(e.param1), Variant::LongRef(&e.param2), Variant::StringRef(&e.text)};
      CallControlObject(0, args);
      break;
    }
    case SOE_ERROR: {
      SetState(OPOS_S_ERROR);
      std::vector<Variant> args{Variant::Long(e.param1), Variant::Long(e.param2), Variant::Long(e.param3),
                                Variant::LongRef(&e.param4)};
      CallControlObject(1, args);
      SetState(OPOS_S_IDLE);
      errorResponse_ = e.param4;
      errorAnswered_.Set();
      break;
    }
    case SOE_OUTPUTCOMPLETE: {
      std::vector<Variant> args{Variant::Long(e.param1)};
      CallControlObject(2, args);
      break;
    }
    case SOE_STATUSUPDATE: {
      std::vector<Variant> args{Variant::Long(e.param1)};
      CallControlObject(3, args);
      break;
    }
    default: break;
  }
}

int32_t CPOSPrinter::GetPropertyNumber(int32_t index) {
  if (index == PIDX_OutputID) return outputId_;
  return CServiceObject::GetPropertyNumber(index);
}

// The printer methods below are completed with the output path.
int32_t CPOSPrinter::CheckHealth(int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::ClearOutput() { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::DirectIO(int32_t, int32_t*, std::string*) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::BeginInsertion(int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::BeginRemoval(int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::CutPaper(int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::EndInsertion() { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::EndRemoval() { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::PrintBarCode(int32_t, const std::string&, int32_t, int32_t, int32_t, int32_t, int32_t) {
  return SetResult(OPOS_E_ILLEGAL);
}
int32_t CPOSPrinter::PrintBitmap(int32_t, const std::string&, int32_t, int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::PrintImmediate(int32_t, const std::string&) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::PrintNormal(int32_t, const std::string&) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::PrintTwoNormal(int32_t, const std::string&, const std::string&) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::RotatePrint(int32_t, int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::SetBitmap(int32_t, int32_t, const std::string&, int32_t, int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::SetLogo(int32_t, const std::string&) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::TransactionPrint(int32_t, int32_t) { return SetResult(OPOS_E_ILLEGAL); }
int32_t CPOSPrinter::ValidateData(int32_t, const std::string&) { return SetResult(OPOS_E_ILLEGAL); }

}  // namespace opos
