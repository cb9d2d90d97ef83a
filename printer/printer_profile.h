// Where the printer service differs between the three libraries: property
// values, output timings and the translation, barcode and bitmap rules, as data.
#pragma once

#include <cstdint>
#include <string_view>

#include "printer/barcode.h"
#include "printer/bitmap_image.h"
#include "printer/translate.h"
#include "service/library_profile.h"

namespace opos {

// CheckHealth's printed test and DirectIO's stored-logo command.
struct HealthProfile {
  // The external check's test text, written as these four pieces.
  std::string_view externalText[4];
  // The interactive check's (Start button) test text, likewise.
  std::string_view interactiveText[4];
  // DirectIO 111 takes the justification by constant name ("PTR_BM_LEFT"...)
  // and ends the command with mode 0x30 and LF; otherwise by value ("-3"...)
  // with mode 0x48 and no LF.
  bool logoJustificationByName;
};

inline constexpr HealthProfile kSerialHealth{{"\x1b@\nInteractive HCheck!!\n", "OPOS ZAD\n",
                                              "Service Object Version : 1.3.0\n", "Device Name : Thermal\n"},
                                             {"\x1b@\nInteractive HCheck!!\n", "OPOS ZAD\n",
                                              "Service Object Version : 1.5.0\n", "Device Name : Thermal\n"},
                                             true};
inline constexpr HealthProfile kParallelUsbHealth{
    {"\x1b@\nInteractive HCheck!!\n", "OPOS ZAD\n", "Service Object Version : 1.3\n",
     "Device Name : ThermalP\n"},
    {"\x1b@\nInteractive HCheck!!\n", "OPOS ZAD\n", "Service Object Version : 1.3\n",
     "Device Name : Thermal\n"},
    false};

struct PrinterProfile {
  int32_t errorStationInit;   // ErrorStation at construction
  int32_t capRecEmptySensor;  // CapRecEmptySensor
  // Pause after the last record of a job before the closing status check
  // (models other than "QMT-500").
  int endOfJobWaitMs;
  // StatusMonitor's pause before each status pass.
  int monitorPeriodMs;
  // The one-byte record that ends an asynchronous transaction's job.
  char transactionMarker;
  // A confirmed transaction also needs the CTS line on (serial only).
  bool ctsCheckAfterTransaction;
  const TranslationProfile* translation;
  const BarcodeProfile* barcode;
  const BitmapProfile* bitmap;
  const HealthProfile* health;
};

inline constexpr PrinterProfile kSerialPrinter{
    0, 0, 100, 500, 0x00, true, &kSerialTranslation, &kSerialBarcode, &kSerialBitmap, &kSerialHealth};
inline constexpr PrinterProfile kParallelPrinter{
    PTR_S_RECEIPT,      1, 500, 200, 0x07, false, &kParallelTranslation, &kParallelBarcode, &kParallelBitmap,
    &kParallelUsbHealth};
inline constexpr PrinterProfile kUsbPrinter{
    PTR_S_RECEIPT,      1, 500, 200, 0x07, false, &kUsbTranslation, &kUsbBarcode, &kUsbBitmap,
    &kParallelUsbHealth};

constexpr const PrinterProfile& PrinterProfileFor(TransportKind kind) {
  switch (kind) {
    case TransportKind::Parallel:
      return kParallelPrinter;
    case TransportKind::Usb:
      return kUsbPrinter;
    case TransportKind::Serial:
      break;
  }
  return kSerialPrinter;
}

// The model whose jobs are confirmed by a process-ID reply.
inline constexpr const char kProcessIdModel[] = "QMT-500";

}  // namespace opos
