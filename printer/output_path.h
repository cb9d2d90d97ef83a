// The printer's output path: SendOutput, which every print method ends in,
// and OutputWorker, which sends asynchronous output job by job, confirms each
// job with the printer, and raises OutputComplete, Error and the idle
// StatusUpdate.
//
// Locks: OutputQueueLock (queueLock_) guards the queue and the job cursor;
// the worker holds it while it takes a record and checks the printer for it,
// never while it writes or waits. writeLock_ keeps the bytes of two writers
// (a synchronous call and the worker) from interleaving on the port. Order:
// queueLock_ before the host's state lock; writeLock_ is never held with
// queueLock_.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/port_object.h"
#include "common/so_event.h"
#include "platform/sync_event.h"
#include "printer/output_queue.h"
#include "printer/printer_properties.h"
#include "printer/stored_bitmaps.h"

namespace opos {

// An Error event raised by the output worker. The sequence number ties the
// application's answer to this error and not to a later one.
class COutputErrorEvent : public CSOEvent {
 public:
  COutputErrorEvent(int32_t rc, int32_t extended, uint64_t seq)
      : CSOEvent(SOE_ERROR, rc, extended, OPOS_EL_OUTPUT, OPOS_ER_RETRY), errorSeq(seq) {}
  const uint64_t errorSeq;
};

class COutputPath {
 public:
  // What the output path needs from the printer Service Object.
  class Host {
   public:
    virtual bool IsClaimed() const = 0;
    virtual void SetState(int32_t state) = 0;  // takes the state lock
    virtual void RaiseEvent(std::unique_ptr<CSOEvent> record) = 0;
    virtual bool EventsFrozen() const = 0;  // FreezeEvents
    virtual void BeginEventPurge() = 0;
    // The printer's ResultCode and ResultCodeExtended, set by an output error.
    virtual void SetResultCodes(int32_t code, int32_t extended) = 0;

   protected:
    ~Host() = default;
  };

  struct Settings {
    bool processIdModel = false;  // "QMT-500": jobs end with the process-ID reply
    int endOfJobWaitMs = 100;
    int processIdRepeatMs = 10000;
    // Requests sent without a reply before the job counts as failed.
    int processIdMaxRequests = 3;
    int processIdPollMs = 20;
    int processIdSettleMs = 100;
    char transactionMarker = 0x00;  // the one-byte record that ends a transaction job
    bool ctsCheckAfterTransaction = false;
    // A retry answered while the printer still reports the same fault waits
    // this long (the status monitor's period) or for the next status change.
    int faultRetryWaitMs = 500;
  };

  struct Result {
    int32_t code = OPOS_SUCCESS;
    int32_t extended = 0;
  };

  // GS ( H, function 48, process ID "FFFF".
  static constexpr std::string_view kProcessIdRequest{"\x1d\x28\x48\x06\x00\x30\x30\x46\x46\x46\x46", 11};

  COutputPath(Host& host, PrinterProperties& props, StoredBitmaps& bitmaps);
  ~COutputPath();
  COutputPath(const COutputPath&) = delete;
  COutputPath& operator=(const COutputPath&) = delete;

  // Claim: resets the bookkeeping and starts OutputWorker. `port` outlives Stop().
  void Start(CPortObject* port, const Settings& settings);
  // Release: ends OutputWorker (also out of an unanswered Error event).
  void Stop();

  // Control Object's thread. Synchronous: checks the printer and writes;
  // asynchronous: queues a record and returns at once. `image` marks a GS *
  // define block (see COutputRecord::image).
  [[nodiscard]] Result SendOutput(int32_t station, std::string_view bytes, bool continuation,
                                  bool image = false);
  // SetBitmap: writes the slot's download block at once, whatever AsyncMode,
  // and stores the slot as in the printer when the write succeeded. Inside a
  // transaction the block joins the transaction and the slot is stored as
  // not yet in the printer.
  [[nodiscard]] Result DownloadBitmap(int number, StoredBitmaps::Slot slot);
  // CheckHealth and raw DirectIO: written at once, past the queue and any
  // transaction; false when the write failed.
  [[nodiscard]] bool WriteDirect(std::string_view bytes);
  // The printer's readiness: 0, 201, 203 or 106.
  [[nodiscard]] int32_t PrinterStatus() { return CheckStatus(PTR_S_RECEIPT); }
  // Drops queued output (see the .cpp for what is kept) and releases a worker
  // waiting for an Error answer.
  void ClearOutput();
  // Release: drops everything still queued, the transaction's records too.
  void ClearQueue();

  // TransactionPrint: from Begin on, SendOutput collects the blocks; Flush
  // hands them over as one job (asynchronous) or writes them and, on the
  // process-ID model, waits until the printer confirms them. A failed flush
  // keeps the records for another flush.
  void BeginTransaction();
  [[nodiscard]] Result FlushTransaction();
  [[nodiscard]] bool InTransaction() const { return inTransaction_.load(); }
  [[nodiscard]] bool QueueEmpty() const;

  // Opening thread, after the application's Error handler returned.
  void AnswerError(uint64_t errorSeq, int32_t response);
  // Port status reader: the process-ID reply arrived. Only sets cells.
  void SetProcessIdSeen();
  // Status monitor: the printer's cover, paper or power state changed.
  void StatusChanged() { statusChanged_.Set(); }

  [[nodiscard]] int32_t OutputId() const { return outputId_.load(); }
  [[nodiscard]] bool Busy() const { return bBusy_.load() != 0; }
  [[nodiscard]] bool ErrorPending() const { return errorPending_.load() != 0; }
  // Tick of the last synchronous output (0: none since the claim).
  [[nodiscard]] uint32_t LastSyncOutputTime() const { return lastSyncOutputTime_.load(); }

 private:
  void Worker();
  void Pass();
  void EndOfJob(const COutputRecord& record);
  void WaitForProcessId(const COutputRecord& record);
  enum class Confirm { Done, Failed, Stopped };
  // Sends the process-ID request and waits for the reply and a good status.
  // Failed: *check holds the status answer (106 for a request that could not
  // be written or was never answered).
  Confirm AwaitProcessId(int32_t station, bool checkCts, int32_t* check);
  void CompleteJob(int32_t outputId);
  void FailJob(int32_t check);
  void ErrorStep(std::unique_lock<std::mutex>& lock, const COutputRecord& record);
  int32_t CheckStatus(int32_t station);
  // Resolves stored-bitmap escapes and writes; false when anything failed.
  bool WriteRecord(std::string_view data, bool image);
  bool PortWrite(std::string_view data);
  // Sleeps up to ms; true when the stop signal came first.
  bool StopWithin(int ms) const;

  Host& host_;
  PrinterProperties& props_;
  StoredBitmaps& bitmaps_;
  CPortObject* port_ = nullptr;
  Settings settings_;

  mutable std::mutex queueLock_;  // OutputQueueLock
  OutputQueue queue_;
  std::optional<size_t> cursor_;  // next record of the job under way
  size_t jobRecordCount_ = 0;
  bool clearInError_ = false;
  bool awaitingAnswer_ = false;  // the worker waits for the answer to errorSeq_
  uint64_t errorSeq_ = 0;
  int32_t errorResponse_ = OPOS_ER_RETRY;

  std::mutex writeLock_;

  std::atomic<bool> inTransaction_{false};  // survives a release and a claim
  std::mutex transactionLock_;
  std::vector<OutputQueue::Record> transactionList_;  // under transactionLock_

  // Worker thread only.
  bool jobFailed_ = false;
  int32_t lastCheck_ = 0;
  // The fault that the last Error reported, when it was answered with retry.
  int32_t retriedFault_ = 0;

  std::atomic<int32_t> outputId_{0};  // keeps counting across claims
  std::atomic<int32_t> bBusy_{0};
  std::atomic<int32_t> errorPending_{0};  // an Error event or a failed flush is outstanding
  std::atomic<uint32_t> lastSyncOutputTime_{0};
  std::atomic<int32_t> bProcessIdSeen_{0};
  std::atomic<bool> stop_{false};

  platform::Event outputReady_;
  platform::Event errorAnswered_;
  platform::Event processIdSeen_;
  platform::Event statusChanged_;
  platform::Event stopSignal_;
  std::thread worker_;
};

}  // namespace opos
