// Control Object of the OPOS POSPrinter class.
#pragma once

#include <string>

#include "opos/control_object.h"

namespace opos::control {

class OPOS_CONTROL_API POSPrinter : public ControlObject {
 public:
  POSPrinter() : ControlObject(DeviceClass::POSPrinter) {}

  int32_t ClearOutput();
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

  int32_t OutputID();
  bool AsyncMode();
  void SetAsyncMode(bool async);
  bool FlagWhenIdle();
  void SetFlagWhenIdle(bool flag);
  int32_t MapMode();
  void SetMapMode(int32_t mode);
  bool CoverOpen();
  bool RecEmpty();
  bool RecNearEnd();
  int32_t RecLineChars();
  void SetRecLineChars(int32_t chars);
  int32_t ErrorLevel();
  int32_t ErrorStation();
};

}  // namespace opos::control
