// The POS printer Service Object: a single-station thermal receipt printer.
#pragma once

#include <memory>
#include <string>

#include "common/port_object.h"
#include "printer/output_path.h"
#include "printer/printer_profile.h"
#include "printer/printer_properties.h"
#include "printer/status_monitor.h"
#include "printer/stored_bitmaps.h"
#include "printer/translate.h"
#include "service/service_object.h"

namespace opos {

class CPOSPrinter : public CServiceObject, public IPrinterLink {
 public:
  CPOSPrinter();
  ~CPOSPrinter() override;

  // IPrinterLink (port status reader thread): only sets cells.
  void SetProcessIdSeen() override { output_.SetProcessIdSeen(); }
  void MarkImagesLost() override { bitmaps_.MarkLost(); }
  void StatusReportArrived() override { monitor_.ReportArrived(); }
  // IPrinterLink (drawer service on the same port): plain cell reads.
  bool OutputBusy() const override { return output_.Busy(); }
  uint32_t LastOutputTick() const override { return output_.LastSyncOutputTime(); }
  const CPortObject* PrinterPort() const override { return port_.get(); }

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
  void SetPropertyNumber(int32_t index, int32_t value) override;
  std::string GetPropertyString(int32_t index) override;

  // The single entry through which every printer method hands command bytes
  // to the device; sets ResultCodeExtended and returns the result code.
  // `image`: the bytes are a GS * define block (COutputRecord::image).
  int32_t SendOutput(int32_t station, std::string_view bytes, bool continuation, bool image = false);

 protected:
  const com::MemberTable& Members() const override;
  com::HRESULT CallMember(size_t index, std::vector<com::Variant>& args, com::Variant* result) override;
  std::vector<std::string> EventMethodNames() const override {
    return {"SODirectIO", "SOError", "SOOutputComplete", "SOStatusUpdate"};
  }
  void DeliverEvent(CSOEvent& record) override;
  void OnClaimStartWorkers() override;
  void OnEnabled() override;
  void OnReleaseDrain() override;
  void OnReleaseStopWorkers() override;
  void OnReleased() override;

 private:
  class OutputHost final : public COutputPath::Host {
   public:
    explicit OutputHost(CPOSPrinter& p) : p_(p) {}
    bool IsClaimed() const override { return p_.claimed_.load() != 0; }
    void SetState(int32_t state) override { p_.SetState(state); }
    void RaiseEvent(std::unique_ptr<CSOEvent> record) override { p_.QueueEvent(std::move(record)); }
    bool EventsFrozen() const override { return p_.freezeEvents_.load() != 0; }
    void BeginEventPurge() override { p_.events_.BeginEventPurge(); }
    void SetResultCodes(int32_t code, int32_t extended) override {
      p_.resultCodeExtended_ = extended;
      p_.SetResult(code);
    }

   private:
    CPOSPrinter& p_;
  };

  class MonitorHost final : public CStatusMonitor::Host {
   public:
    explicit MonitorHost(CPOSPrinter& p) : p_(p) {}
    bool IsClaimed() const override { return p_.claimed_.load() != 0; }
    bool IsEnabled() const override { return p_.deviceEnabled_.load() != 0; }
    int32_t PowerNotify() const override { return p_.powerNotify_.load(); }
    void SetPowerState(int32_t state) override { p_.powerState_ = state; }
    void RaiseEvent(std::unique_ptr<CSOEvent> record) override { p_.QueueEvent(std::move(record)); }
    void ImagesLost() override { p_.bitmaps_.MarkLost(); }
    void StatusChanged() override { p_.output_.StatusChanged(); }

   private:
    CPOSPrinter& p_;
  };

  bool Rotated() const { return xlate_.nRotateMode == 1 || xlate_.nRotateMode == 2; }
  PrintProperties Snapshot() const { return props_.Snapshot(binaryConversion_.load()); }
  BitmapSettings BitmapSnapshot() const;
  int32_t PrintData(int32_t station, const std::string& data);
  // The health checks' status check and, when it passes and text is given,
  // the four-piece test print; stores and returns the result codes.
  int32_t HealthCheckAndPrint(const std::string_view* text);

  const PrinterProfile& printerProfile_;
  PrinterProperties props_;
  TranslationState xlate_;  // Control Object's thread only
  StoredBitmaps bitmaps_;
  OutputHost outputHost_{*this};
  MonitorHost monitorHost_{*this};
  COutputPath output_{outputHost_, props_, bitmaps_};
  CStatusMonitor monitor_{monitorHost_, props_};
};

}  // namespace opos
