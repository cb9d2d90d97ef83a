// The POS printer Service Object: a single-station thermal receipt printer.
#pragma once

#include "common/port_object.h"
#include "service/service_object.h"

namespace opos {

class CPOSPrinter : public CServiceObject, public IPrinterLink {
 public:
  CPOSPrinter();
  ~CPOSPrinter() override;

  // IPrinterLink (port status reader thread)
  void SetProcessIdSeen() override { bProcessIdSeen.store(1); }
  void MarkImagesLost() override {}

  int32_t CheckHealth(int32_t level);
  int32_t ClearOutput();
  int32_t DirectIO(int32_t command, int32_t* data, std::string* text);
  int32_t BeginInsertion(int32_t timeout);
  int32_t BeginRemoval(int32_t timeout);
  int32_t CutPaper(int32_t percentage);
  int32_t EndInsertion();
  int32_t EndRemoval();
  int32_t PrintBarCode(int32_t station, const std::string& data, int32_t symbology, int32_t height,
                       int32_t width, int32_t alignment, int32_t textPosition);
  int32_t PrintBitmap(int32_t station, const std::string& fileName, int32_t width, int32_t alignment);
  int32_t PrintImmediate(int32_t station, const std::string& data);
  int32_t PrintNormal(int32_t station, const std::string& data);
  int32_t PrintTwoNormal(int32_t stations, const std::string& data1, const std::string& data2);
  int32_t RotatePrint(int32_t station, int32_t rotation);
  int32_t SetBitmap(int32_t bitmapNumber, int32_t station, const std::string& fileName, int32_t width,
                    int32_t alignment);
  int32_t SetLogo(int32_t location, const std::string& data);
  int32_t TransactionPrint(int32_t station, int32_t control);
  int32_t ValidateData(int32_t station, const std::string& data);

  int32_t GetPropertyNumber(int32_t index) override;

  std::atomic<int32_t> bProcessIdSeen{0};

 protected:
  const com::MemberTable& Members() const override;
  com::HRESULT CallMember(size_t index, std::vector<com::Variant>& args, com::Variant* result) override;
  std::vector<std::string> EventMethodNames() const override {
    return {"SODirectIO", "SOError", "SOOutputComplete", "SOStatusUpdate"};
  }
  void DeliverEvent(CSOEvent& record) override;

  std::atomic<int32_t> outputId_{0};
  std::atomic<int32_t> errorResponse_{0};
  platform::Event errorAnswered_;
};

}  // namespace opos
