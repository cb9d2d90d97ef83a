#include "opos/pos_printer.h"

#include "common/opos.h"
#include "common/opos_ptr.h"
#include "platform/dispatch.h"

namespace opos::control {

using com::Variant;

int32_t POSPrinter::ClearOutput() {
  return CallLong("ClearOutput", {});
}
int32_t POSPrinter::BeginInsertion(int32_t timeout) {
  return CallLong("BeginInsertion", {Variant::Long(timeout)});
}
int32_t POSPrinter::BeginRemoval(int32_t timeout) {
  return CallLong("BeginRemoval", {Variant::Long(timeout)});
}
int32_t POSPrinter::CutPaper(int32_t percentage) {
  return CallLong("CutPaper", {Variant::Long(percentage)});
}
int32_t POSPrinter::EndInsertion() {
  return CallLong("EndInsertion", {});
}
int32_t POSPrinter::EndRemoval() {
  return CallLong("EndRemoval", {});
}

int32_t POSPrinter::PrintBarCode(int32_t station, const std::string& data, int32_t symbology, int32_t height,
                                 int32_t width, int32_t alignment, int32_t textPosition) {
  return CallLong("PrintBarCode", {Variant::Long(station), Variant::String(data), Variant::Long(symbology),
                                   Variant::Long(height), Variant::Long(width), Variant::Long(alignment),
                                   Variant::Long(textPosition)});
}

int32_t POSPrinter::PrintBitmap(int32_t station, const std::string& fileName, int32_t width,
                                int32_t alignment) {
  return CallLong("PrintBitmap", {Variant::Long(station), Variant::String(fileName), Variant::Long(width),
                                  Variant::Long(alignment)});
}

int32_t POSPrinter::PrintImmediate(int32_t station, const std::string& data) {
  return CallLong("PrintImmediate", {Variant::Long(station), Variant::String(data)});
}

int32_t POSPrinter::PrintNormal(int32_t station, const std::string& data) {
  return CallLong("PrintNormal", {Variant::Long(station), Variant::String(data)});
}

int32_t POSPrinter::PrintTwoNormal(int32_t stations, const std::string& data1, const std::string& data2) {
  return CallLong("PrintTwoNormal",
                  {Variant::Long(stations), Variant::String(data1), Variant::String(data2)});
}

int32_t POSPrinter::RotatePrint(int32_t station, int32_t rotation) {
  return CallLong("RotatePrint", {Variant::Long(station), Variant::Long(rotation)});
}

int32_t POSPrinter::SetBitmap(int32_t bitmapNumber, int32_t station, const std::string& fileName,
                              int32_t width, int32_t alignment) {
  return CallLong("SetBitmap", {Variant::Long(bitmapNumber), Variant::Long(station),
                                Variant::String(fileName), Variant::Long(width), Variant::Long(alignment)});
}

int32_t POSPrinter::SetLogo(int32_t location, const std::string& data) {
  return CallLong("SetLogo", {Variant::Long(location), Variant::String(data)});
}

int32_t POSPrinter::TransactionPrint(int32_t station, int32_t control) {
  return CallLong("TransactionPrint", {Variant::Long(station), Variant::Long(control)});
}

int32_t POSPrinter::ValidateData(int32_t station, const std::string& data) {
  return CallLong("ValidateData", {Variant::Long(station), Variant::String(data)});
}

int32_t POSPrinter::OutputID() {
  return GetPropertyNumber(PIDX_OutputID);
}
bool POSPrinter::AsyncMode() {
  return GetPropertyNumber(PIDXPtr_AsyncMode) != 0;
}
void POSPrinter::SetAsyncMode(bool async) {
  SetPropertyNumber(PIDXPtr_AsyncMode, async ? 1 : 0);
}
bool POSPrinter::FlagWhenIdle() {
  return GetPropertyNumber(PIDXPtr_FlagWhenIdle) != 0;
}
void POSPrinter::SetFlagWhenIdle(bool flag) {
  SetPropertyNumber(PIDXPtr_FlagWhenIdle, flag ? 1 : 0);
}
int32_t POSPrinter::MapMode() {
  return GetPropertyNumber(PIDXPtr_MapMode);
}
void POSPrinter::SetMapMode(int32_t mode) {
  SetPropertyNumber(PIDXPtr_MapMode, mode);
}
bool POSPrinter::CoverOpen() {
  return GetPropertyNumber(PIDXPtr_CoverOpen) != 0;
}
bool POSPrinter::RecEmpty() {
  return GetPropertyNumber(PIDXPtr_RecEmpty) != 0;
}
bool POSPrinter::RecNearEnd() {
  return GetPropertyNumber(PIDXPtr_RecNearEnd) != 0;
}
int32_t POSPrinter::RecLineChars() {
  return GetPropertyNumber(PIDXPtr_RecLineChars);
}
void POSPrinter::SetRecLineChars(int32_t chars) {
  SetPropertyNumber(PIDXPtr_RecLineChars, chars);
}
int32_t POSPrinter::ErrorLevel() {
  return GetPropertyNumber(PIDXPtr_ErrorLevel);
}
int32_t POSPrinter::ErrorStation() {
  return GetPropertyNumber(PIDXPtr_ErrorStation);
}

}  // namespace opos::control
