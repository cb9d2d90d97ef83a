#include "printer/printer_properties.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace opos {

namespace {

struct Initial {
  int32_t index;
  int32_t value;
};
// Cells not listed start at 0.
constexpr Initial kInitial[] = {
    {PIDXPtr_CharacterSet, 437}, {PIDXPtr_MapMode, PTR_MM_DOTS},    {PIDXPtr_RecLineChars, 42},
    {PIDXPtr_RecLineHeight, 24}, {PIDXPtr_RecLineSpacing, 30},      {PIDXPtr_RecLinesToPaperCut, 5},
    {PIDXPtr_RecLineWidth, 588}, {PIDXPtr_RecSidewaysMaxChars, 69}, {PIDXPtr_RecSidewaysMaxLines, 17},
    {PIDXPtr_SlpEmpty, 1},       {PIDXPtr_ErrorLevel, PTR_EL_NONE}, {PIDXPtr_RotateSpecial, PTR_RP_NORMAL},
};

// Stored as given, no further effect.
constexpr int32_t kPlainSettable[] = {
    PIDXPtr_AsyncMode,     PIDXPtr_FlagWhenIdle,   PIDXPtr_JrnLetterQuality, PIDXPtr_JrnLineChars,
    PIDXPtr_JrnLineHeight, PIDXPtr_JrnLineSpacing, PIDXPtr_JrnLineWidth,     PIDXPtr_RecLetterQuality,
    PIDXPtr_RecLineHeight, PIDXPtr_RecLineWidth,   PIDXPtr_SlpLetterQuality, PIDXPtr_SlpLineChars,
    PIDXPtr_SlpLineHeight, PIDXPtr_SlpLineSpacing, PIDXPtr_SlpLineWidth,     PIDXPtr_RotateSpecial,
};

struct CodeTable {
  int32_t characterSet;
  uint8_t n;
};
constexpr CodeTable kCodeTables[] = {
    {437, 0},   {1, 1},     {23, 20},   {31, 23},   {34, 21},   {35, 26},   {39, 24},   {737, 41},
    {775, 42},  {850, 2},   {855, 43},  {857, 44},  {860, 3},   {861, 45},  {862, 46},  {863, 4},
    {864, 47},  {865, 5},   {866, 17},  {869, 48},  {874, 27},  {852, 18},  {858, 19},  {932, 254},
    {936, 253}, {949, 255}, {950, 252}, {255, 255}, {1251, 51}, {1252, 16}, {1253, 53}, {1254, 54},
    {1255, 55}, {1256, 56}, {1257, 57}, {1258, 58},
};

constexpr const char kCharacterSetList[] =
    "437,1(Katakana),850,855,857,860,861,862,863,865,866,852,858,737,775,864,869,874,23(Thai42),"
    "34(Thai11),31(Thai14),39(Thai16),35(Thai18),1251,1252,1253,1254,1255,1256,1257,1258,936,932,"
    "949,950";

bool KnownMapMode(int32_t m) {
  return m >= PTR_MM_DOTS && m <= PTR_MM_METRIC;
}

// Dots to the unit.
double FromDotsFactor(int32_t mapMode) {
  switch (mapMode) {
    case PTR_MM_TWIPS:
      return 7.086614173228346;
    case PTR_MM_ENGLISH:
      return 4.921259842519685;
    case PTR_MM_METRIC:
      return 12.5;
    default:
      return 1.0;
  }
}

// Truncation toward zero, held inside the int32 range.
int32_t Saturate(double v) {
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::trunc(v), kMin, kMax));
}

int32_t RoundHalfUp(double v) {
  return Saturate(v + 0.5);
}

}  // namespace

// Length in the unit to dots.
double ToDotsFactor(int32_t mapMode) {
  switch (mapMode) {
    case PTR_MM_TWIPS:
      return 0.1411111111111111;
    case PTR_MM_ENGLISH:
      return 0.2032;
    case PTR_MM_METRIC:
      return 0.08;
    default:
      return 1.0;
  }
}

PrinterProperties::PrinterProperties(const PrinterProfile& profile) : profile_(profile) {
  for (const Initial& i : kInitial) cells_[Slot(i.index)] = i.value;
  cells_[Slot(PIDXPtr_ErrorStation)] = profile_.errorStationInit;
}

bool PrinterProperties::Get(int32_t index, int32_t* value) const {
  if (index >= kFirst && index <= kLast) {
    *value = cells_[Slot(index)].load();
    return true;
  }
  if (index >= PIDXPtr_CapConcurrentJrnRec && index <= PIDXPtr_CapTransaction) {
    *value = 0;
    if (index == PIDXPtr_CapRecEmptySensor) *value = profile_.capRecEmptySensor;
    for (const PtrCapabilityValue& c : kPtrCapabilities) {
      if (c.index == index) *value = c.value;
    }
    return true;
  }
  return false;
}

bool PrinterProperties::GetString(int32_t index, std::string* value) const {
  switch (index) {
    case PIDXPtr_CharacterSetList:
      *value = kCharacterSetList;
      return true;
    case PIDXPtr_RecLineCharsList:
      *value = "42,56";
      return true;
    case PIDXPtr_SlpLineCharsList:
      *value = "80";
      return true;
    case PIDXPtr_ErrorString:
      *value = ErrorString();
      return true;
    case PIDXPtr_RecBarCodeRotationList:
      *value = "0";
      return true;
    case PIDXPtr_JrnLineCharsList:
    case PIDXPtr_FontTypefaceList:
    case PIDXPtr_SlpBarCodeRotationList:
      value->clear();
      return true;
    default:
      return false;
  }
}

bool PrinterProperties::IsSettable(int32_t index) {
  switch (index) {
    case PIDXPtr_CharacterSet:
    case PIDXPtr_MapMode:
    case PIDXPtr_RecLineChars:
    case PIDXPtr_RecLineSpacing:
      return true;
    default:
      return std::find(std::begin(kPlainSettable), std::end(kPlainSettable), index) !=
             std::end(kPlainSettable);
  }
}

bool PrinterProperties::SetPlain(int32_t index, int32_t value) {
  if (index == PIDXPtr_RecLineChars) {
    (*this)[index] = value > 42 ? 56 : 42;
    return true;
  }
  if (std::find(std::begin(kPlainSettable), std::end(kPlainSettable), index) == std::end(kPlainSettable)) {
    return false;
  }
  (*this)[index] = value;
  return true;
}

int32_t PrinterProperties::SetMapMode(int32_t mapMode) {
  // A mode without a unit factor would leave every later conversion undefined.
  if (!KnownMapMode(mapMode)) return OPOS_E_ILLEGAL;
  auto cell = [this](int32_t i) -> std::atomic<int32_t>& { return (*this)[i]; };
  const double dots = cell(PIDXPtr_RecLineSpacing).load() * ToDotsFactor(cell(PIDXPtr_MapMode).load());
  cell(PIDXPtr_MapMode) = mapMode;
  // Width and height are fixed numbers per unit, not conversions of 588 x 24 dots.
  struct Fixed {
    int32_t width, height;
  };
  static constexpr Fixed kFixed[] = {{588, 24}, {4096, 192}, {2844, 133}, {7224, 338}};
  const Fixed& f = kFixed[mapMode - PTR_MM_DOTS];
  cell(PIDXPtr_RecLineWidth) = f.width;
  cell(PIDXPtr_RecLineHeight) = f.height;
  cell(PIDXPtr_RecLineSpacing) =
      mapMode == PTR_MM_DOTS ? Saturate(dots) : RoundHalfUp(dots * FromDotsFactor(mapMode));
  return OPOS_SUCCESS;
}

void PrinterProperties::SetRecLineSpacing(int32_t value, bool sidewaysRotation) {
  if (sidewaysRotation) return;
  (*this)[PIDXPtr_RecLineSpacing] = value;
  // ESC 3 cannot go below half a dot (the parameter is raised to 1), so a
  // spacing of zero or less feeds like half a dot rather than dividing by 0.
  double dots = value * ToDotsFactor((*this)[PIDXPtr_MapMode].load());
  if (dots <= 0) dots = 0.5;
  (*this)[PIDXPtr_RecLinesToPaperCut] = RoundHalfUp(150.0 / dots);
}

std::string PrinterProperties::ErrorString() const {
  std::lock_guard<std::mutex> g(errorStringLock_);
  return errorString_;
}

void PrinterProperties::SetErrorString(std::string_view text) {
  std::lock_guard<std::mutex> g(errorStringLock_);
  errorString_.assign(text);
}

PrintProperties PrinterProperties::Snapshot(int32_t binaryConversion) const {
  PrintProperties p;
  p.BinaryConversion = binaryConversion;
  p.MapMode = (*this)[PIDXPtr_MapMode].load();
  p.RecLineChars = (*this)[PIDXPtr_RecLineChars].load();
  p.RecLineSpacing = (*this)[PIDXPtr_RecLineSpacing].load();
  p.RecLinesToPaperCut = (*this)[PIDXPtr_RecLinesToPaperCut].load();
  p.RecLineWidth = (*this)[PIDXPtr_RecLineWidth].load();
  p.RotateSpecial = (*this)[PIDXPtr_RotateSpecial].load();
  p.CodeTable = CodeTableFor((*this)[PIDXPtr_CharacterSet].load());
  return p;
}

uint8_t PrinterProperties::CodeTableFor(int32_t characterSet) {
  for (const CodeTable& t : kCodeTables) {
    if (t.characterSet == characterSet) return t.n;
  }
  return 0;
}

}  // namespace opos
