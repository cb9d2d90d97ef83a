// Where the printer service differs between the three libraries: property
// values, output timings and the translation, barcode and bitmap rules, as data.
#pragma once

#include <cstdint>

#include "printer/barcode.h"
#include "printer/bitmap_image.h"
#include "printer/translate.h"
#include "service/library_profile.h"

namespace opos {

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
};

inline constexpr PrinterProfile kSerialPrinter{0, 0, 100, 500, 0x00, true, &kSerialTranslation, &kSerialBarcode,
                                               &kSerialBitmap};
inline constexpr PrinterProfile kParallelPrinter{PTR_S_RECEIPT, 1, 500, 200, 0x07, false, &kParallelTranslation,
                                                 &kParallelBarcode, &kParallelBitmap};
inline constexpr PrinterProfile kUsbPrinter{PTR_S_RECEIPT, 1, 500, 200, 0x07, false, &kUsbTranslation,
                                            &kUsbBarcode, &kUsbBitmap};

constexpr const PrinterProfile& PrinterProfileFor(TransportKind kind) {
  switch (kind) {
    case TransportKind::Parallel: return kParallelPrinter;
    case TransportKind::Usb: return kUsbPrinter;
    case TransportKind::Serial: break;
  }
  return kSerialPrinter;
}

// The model whose jobs are confirmed by a process-ID reply.
inline constexpr const char kProcessIdModel[] = "QMT-500";

}  // namespace opos
