#include "printer/output_path.h"

#include <utility>

#include "platform/clock.h"

namespace opos {

namespace {

constexpr int32_t kFailureExtended = 100003;

struct ErrorReport {
  int32_t code;
  int32_t extended;
  int32_t level;
  const char* text;
};

ErrorReport ReportFor(int32_t check) {
  if (check == OPOS_EPTR_COVER_OPEN) {
    return {OPOS_E_EXTENDED, check, PTR_EL_RECOVERABLE, "Printer cover is open."};
  }
  if (check == OPOS_EPTR_REC_EMPTY) {
    return {OPOS_E_EXTENDED, check, PTR_EL_RECOVERABLE, "Receipt station is out of paper."};
  }
  return {OPOS_E_FAILURE, kFailureExtended, PTR_EL_FATAL, "An unrecoverable error has occurred."};
}

}  // namespace

COutputPath::COutputPath(Host& host, PrinterProperties& props, StoredBitmaps& bitmaps)
    : host_(host), props_(props), bitmaps_(bitmaps) {}

COutputPath::~COutputPath() {
  Stop();
}

void COutputPath::Start(CPortObject* port, const Settings& settings) {
  Stop();
  port_ = port;
  settings_ = settings;
  {
    std::lock_guard<std::mutex> g(queueLock_);
    queue_.Clear();
    cursor_.reset();
    jobRecordCount_ = 0;
    clearInError_ = false;
    awaitingAnswer_ = false;
    errorPending_ = 0;
  }
  jobFailed_ = false;
  lastCheck_ = 0;
  retriedFault_ = 0;
  bBusy_ = 0;
  lastSyncOutputTime_ = 0;
  bProcessIdSeen_ = 0;
  stop_ = false;
  stopSignal_.Reset();
  outputReady_.Reset();
  worker_ = std::thread([this] { Worker(); });
}

void COutputPath::Stop() {
  if (!worker_.joinable()) return;
  stop_ = true;
  stopSignal_.Set();
  worker_.join();
}

COutputPath::Result COutputPath::SendOutput(int32_t station, std::string_view bytes, bool continuation,
                                            bool image) {
  if (!host_.IsClaimed()) return {OPOS_E_NOTCLAIMED, 0};
  if (station != PTR_S_RECEIPT) return {OPOS_E_ILLEGAL, 0};

  if (inTransaction_.load()) {
    auto record = std::make_shared<COutputRecord>();
    record->data.assign(bytes);
    record->station = station;
    record->image = image;
    std::lock_guard<std::mutex> g(transactionLock_);
    transactionList_.push_back(std::move(record));
    return {};
  }

  if (props_[PIDXPtr_AsyncMode].load() != 0) {
    auto record = std::make_shared<COutputRecord>();
    record->data.assign(bytes);
    record->station = station;
    record->image = image;
    std::lock_guard<std::mutex> g(queueLock_);
    if (!continuation) {
      int32_t id = outputId_.fetch_add(1) + 1;
      // 0 marks a continued record; after a wrap the ID skips it.
      if (id == 0) id = outputId_.fetch_add(1) + 1;
      record->OutputID = id;
    }
    queue_.Append(std::move(record));
    bBusy_ = 1;
    if (!continuation) outputReady_.Set();
    return {};
  }

  const int32_t check = CheckStatus(station);
  if (check == OPOS_EPTR_COVER_OPEN || check == OPOS_EPTR_REC_EMPTY) return {OPOS_E_EXTENDED, check};
  if (check != 0) return {OPOS_E_FAILURE, kFailureExtended};
  lastSyncOutputTime_ = platform::TickCount();
  const bool written = WriteRecord(bytes, image);
  // The drawer waits until the printer has been quiet for a while: a long
  // write counts from its end, not from its start.
  lastSyncOutputTime_ = platform::TickCount();
  if (!written) return {OPOS_E_FAILURE, kFailureExtended};
  return {};
}

COutputPath::Result COutputPath::DownloadBitmap(int number, StoredBitmaps::Slot slot) {
  if (!host_.IsClaimed()) return {OPOS_E_NOTCLAIMED, 0};
  if (inTransaction_.load()) {
    const Result queued = SendOutput(PTR_S_RECEIPT, slot.download, false, true);
    bitmaps_.Define(number, std::move(slot), false);
    return queued;
  }
  const int32_t check = CheckStatus(PTR_S_RECEIPT);
  if (check != 0) {
    bitmaps_.Define(number, std::move(slot), false);
    if (check == OPOS_EPTR_COVER_OPEN || check == OPOS_EPTR_REC_EMPTY) return {OPOS_E_EXTENDED, check};
    return {OPOS_E_FAILURE, kFailureExtended};
  }
  std::lock_guard<std::mutex> w(writeLock_);
  lastSyncOutputTime_ = platform::TickCount();
  const bool written = PortWrite(slot.download);
  lastSyncOutputTime_ = platform::TickCount();
  // Stored under the write lock: a stored image that the worker downloads
  // between this write and the store would leave the flags naming the wrong one.
  bitmaps_.Define(number, std::move(slot), written);
  if (!written) return {OPOS_E_FAILURE, kFailureExtended};
  return {};
}

bool COutputPath::WriteDirect(std::string_view bytes) {
  std::lock_guard<std::mutex> w(writeLock_);
  lastSyncOutputTime_ = platform::TickCount();
  const bool written = PortWrite(bytes);
  lastSyncOutputTime_ = platform::TickCount();
  return written;
}

void COutputPath::ClearOutput() {
  bool purge = false;
  {
    std::lock_guard<std::mutex> g(queueLock_);
    if (awaitingAnswer_) {
      // The failed job and everything behind it go; the worker takes this as
      // the answer to its Error event.
      queue_.Clear();
      clearInError_ = true;
      errorAnswered_.Set();
      purge = host_.EventsFrozen();
    } else {
      // A failed transaction flush: its records go when the next transaction begins.
      if (errorPending_.load()) clearInError_ = true;
      if (cursor_) {
        // The job under way is partly on paper already: it finishes and is
        // confirmed; the jobs queued behind it are dropped without completion.
        queue_.KeepHead(jobRecordCount_);
      } else {
        // Nothing started: every queued record goes, including the pieces of
        // a job whose last record never came.
        queue_.Clear();
      }
    }
    // Let the worker find out that it is idle now.
    outputReady_.Set();
  }
  // Error and OutputComplete events still held back by a freeze belong to the
  // dropped output. Purged here rather than by the worker, so that a freeze
  // lifted right after this call cannot deliver them first.
  if (purge) host_.BeginEventPurge();
}

void COutputPath::ClearQueue() {
  {
    std::lock_guard<std::mutex> g(queueLock_);
    queue_.Clear();
    outputReady_.Set();
  }
  std::lock_guard<std::mutex> t(transactionLock_);
  transactionList_.clear();
}

void COutputPath::BeginTransaction() {
  if (props_[PIDXPtr_AsyncMode].load() == 0) {
    bool discard = false;
    {
      std::lock_guard<std::mutex> g(queueLock_);
      // A failed flush that the application cleared: its records go now.
      if (clearInError_) {
        clearInError_ = false;
        errorPending_ = 0;
        discard = true;
      }
    }
    if (discard) {
      std::lock_guard<std::mutex> t(transactionLock_);
      transactionList_.clear();
    }
  }
  inTransaction_ = true;
}

COutputPath::Result COutputPath::FlushTransaction() {
  inTransaction_ = false;
  std::vector<OutputQueue::Record> records;
  const bool async = props_[PIDXPtr_AsyncMode].load() != 0;
  if (async) {
    // The whole transaction becomes one job, ended by a one-byte marker.
    auto marker = std::make_shared<COutputRecord>();
    marker->data.assign(1, settings_.transactionMarker);
    marker->OutputID = -1;
    std::lock_guard<std::mutex> t(transactionLock_);
    records = transactionList_;
    records.push_back(std::move(marker));
  } else {
    std::lock_guard<std::mutex> t(transactionLock_);
    records = transactionList_;
  }

  if (async) {
    for (const OutputQueue::Record& r : records) {
      const Result sent = SendOutput(r->station, r->data, r->OutputID == 0, r->image);
      if (sent.code != OPOS_SUCCESS) {
        errorPending_ = 1;
        return sent;
      }
    }
    std::lock_guard<std::mutex> t(transactionLock_);
    transactionList_.clear();
    return {};
  }

  bBusy_ = 1;
  struct NotBusy {
    std::atomic<int32_t>& busy;
    ~NotBusy() { busy = 0; }
  } notBusy{bBusy_};
  for (const OutputQueue::Record& r : records) {
    const Result sent = SendOutput(r->station, r->data, false, r->image);
    if (sent.code != OPOS_SUCCESS) {
      errorPending_ = 1;
      return sent;
    }
  }
  if (settings_.processIdModel) {
    int32_t check = 0;
    switch (AwaitProcessId(PTR_S_RECEIPT, settings_.ctsCheckAfterTransaction, &check)) {
      case Confirm::Stopped:
        return {};  // released meanwhile: the records stay
      case Confirm::Failed:
        errorPending_ = 1;
        if (check == OPOS_EPTR_COVER_OPEN || check == OPOS_EPTR_REC_EMPTY) return {OPOS_E_EXTENDED, check};
        return {OPOS_E_FAILURE, kFailureExtended};
      case Confirm::Done:
        break;
    }
  }
  std::lock_guard<std::mutex> t(transactionLock_);
  transactionList_.clear();
  errorPending_ = 0;
  return {};
}

bool COutputPath::QueueEmpty() const {
  std::lock_guard<std::mutex> g(queueLock_);
  return queue_.Empty();
}

void COutputPath::AnswerError(uint64_t errorSeq, int32_t response) {
  std::lock_guard<std::mutex> g(queueLock_);
  if (errorSeq != errorSeq_ || !awaitingAnswer_) return;
  errorResponse_ = response;
  errorAnswered_.Set();
}

void COutputPath::SetProcessIdSeen() {
  bProcessIdSeen_ = 1;
  processIdSeen_.Set();
}

void COutputPath::Worker() {
  for (;;) {
    platform::WaitAny({&outputReady_, &stopSignal_});
    if (stop_.load()) break;
    Pass();
  }
}

void COutputPath::Pass() {
  // Records are queued only while claimed; between a release and the stop
  // there is nothing to do but rest.
  if (!host_.IsClaimed()) {
    StopWithin(100);
    return;
  }
  std::unique_lock<std::mutex> lock(queueLock_);
  if (!cursor_) {
    jobFailed_ = false;
    // Only a complete job is started: a job still being queued would be
    // counted short and its first records sent twice.
    if (const size_t n = queue_.CompleteJobLength()) {
      jobRecordCount_ = n;
      cursor_ = 0;
    }
  }
  if (!cursor_) {
    outputReady_.Reset();
    if (!queue_.Empty()) return;  // the rest of a job is still to come
    host_.SetState(OPOS_S_IDLE);
    bBusy_ = 0;
    lock.unlock();
    if (props_[PIDXPtr_FlagWhenIdle].exchange(0) != 0) {
      host_.RaiseEvent(std::make_unique<CSOEvent>(SOE_STATUSUPDATE, PTR_SUE_IDLE));
    }
    return;
  }

  host_.SetState(OPOS_S_BUSY);
  bBusy_ = 1;
  const size_t index = *cursor_;
  if (index >= jobRecordCount_ || index >= queue_.Size()) {
    // The queue was emptied under the job (release).
    cursor_.reset();
    return;
  }
  const OutputQueue::Record record = queue_.At(index);
  cursor_ = index + 1;
  if (!jobFailed_) lastCheck_ = CheckStatus(record->station);
  const int32_t retried = std::exchange(retriedFault_, 0);
  if (!jobFailed_ && retried != 0 && lastCheck_ == retried) {
    // Retried while the same fault persists: an Error at once would only be
    // answered with another retry, as fast as the application can. Look
    // again after the next status change or one monitor period.
    lock.unlock();
    platform::WaitAny({&statusChanged_, &stopSignal_}, settings_.faultRetryWaitMs);
    lock.lock();
    if (cursor_ == index + 1) cursor_ = index;  // unless a release emptied the queue meanwhile
    return;
  }
  if (jobFailed_ || lastCheck_ != 0) {
    ErrorStep(lock, *record);
    return;
  }
  lock.unlock();

  if (!WriteRecord(record->data, record->image)) {
    FailJob(OPOS_E_ILLEGAL);
    // A write that failed before the last record: the error follows on the
    // next pass; the last record's failure is handled the same way.
    return;
  }
  if (record->OutputID == 0) return;  // more of this job follows at once
  EndOfJob(*record);
}

void COutputPath::EndOfJob(const COutputRecord& record) {
  if (settings_.processIdModel) {
    WaitForProcessId(record);
    return;
  }
  if (StopWithin(settings_.endOfJobWaitMs)) return;
  const int32_t check = CheckStatus(record.station);
  if (check != 0) {
    FailJob(check);
    return;
  }
  CompleteJob(record.OutputID);
}

void COutputPath::WaitForProcessId(const COutputRecord& record) {
  int32_t check = 0;
  switch (AwaitProcessId(record.station, false, &check)) {
    case Confirm::Done:
      CompleteJob(record.OutputID);
      return;
    case Confirm::Failed:
      FailJob(check);
      return;
    case Confirm::Stopped:
      return;
  }
}

COutputPath::Confirm COutputPath::AwaitProcessId(int32_t station, bool checkCts, int32_t* check) {
  // Cleared before the request goes out, so a quick reply is not lost.
  bProcessIdSeen_ = 0;
  processIdSeen_.Reset();
  // Fast polling from before the request, so the reply is read at once; off
  // again before anyone hears of the outcome.
  port_->bFastPoll = 1;
  struct FastPollOff {
    CPortObject* port;
    ~FastPollOff() { port->bFastPoll = 0; }
  } fastPollOff{port_};
  auto failed = [&](int32_t code) {
    *check = code;
    port_->bFastPoll = 0;
    return Confirm::Failed;
  };
  {
    std::lock_guard<std::mutex> w(writeLock_);
    if (!PortWrite(kProcessIdRequest)) return failed(OPOS_E_ILLEGAL);
  }

  uint32_t sentAt = platform::TickCount();
  int requests = 1;
  for (;;) {
    if (stop_.load()) return Confirm::Stopped;
    if (platform::TickCount() - sentAt >= static_cast<uint32_t>(settings_.processIdRepeatMs)) {
      // A printer that never answers would hold everything behind it back
      // for good: after the last unanswered request it counts as a failure.
      if (requests >= settings_.processIdMaxRequests) return failed(OPOS_E_ILLEGAL);
      std::lock_guard<std::mutex> w(writeLock_);
      if (!PortWrite(kProcessIdRequest)) return failed(OPOS_E_ILLEGAL);
      sentAt = platform::TickCount();
      ++requests;
    }
    platform::WaitAny({&processIdSeen_, &stopSignal_}, settings_.processIdPollMs);
    if (stop_.load()) return Confirm::Stopped;
    processIdSeen_.Reset();
    if (bProcessIdSeen_.exchange(0) == 0) {
      if (const int32_t c = CheckStatus(station); c != 0) return failed(c);
      continue;
    }
    if (StopWithin(settings_.processIdSettleMs)) return Confirm::Stopped;
    if (const int32_t c = CheckStatus(station); c != 0) return failed(c);
    // The line can drop after the last status report (printer switched off).
    if (checkCts && !port_->CtsOn()) return failed(OPOS_E_ILLEGAL);
    port_->bFastPoll = 0;
    return Confirm::Done;
  }
}

void COutputPath::CompleteJob(int32_t outputId) {
  {
    std::lock_guard<std::mutex> g(queueLock_);
    errorPending_ = 0;
    queue_.RemoveHead(jobRecordCount_);
    cursor_.reset();
  }
  host_.RaiseEvent(std::make_unique<CSOEvent>(SOE_OUTPUTCOMPLETE, outputId));
}

void COutputPath::FailJob(int32_t check) {
  lastCheck_ = check;
  jobFailed_ = true;
  std::lock_guard<std::mutex> g(queueLock_);
  cursor_ = 0;
}

void COutputPath::ErrorStep(std::unique_lock<std::mutex>& lock, const COutputRecord& record) {
  errorPending_ = 1;
  awaitingAnswer_ = true;
  // Only a ClearOutput made while this error is outstanding answers it.
  clearInError_ = false;
  jobFailed_ = false;
  cursor_ = 0;
  const uint64_t seq = ++errorSeq_;
  errorAnswered_.Reset();
  lock.unlock();
  // From here on a status change is news for a retry.
  statusChanged_.Reset();

  const ErrorReport report = ReportFor(lastCheck_);
  host_.SetResultCodes(report.code, report.extended);
  props_[PIDXPtr_ErrorStation] = record.station;
  props_[PIDXPtr_ErrorLevel] = report.level;
  props_.SetErrorString(report.text);
  host_.RaiseEvent(std::make_unique<COutputErrorEvent>(report.code, report.extended, seq));

  platform::WaitAny({&errorAnswered_, &stopSignal_});
  if (stop_.load()) return;
  props_[PIDXPtr_ErrorLevel] = PTR_EL_NONE;
  props_.SetErrorString("");

  lock.lock();
  awaitingAnswer_ = false;
  errorPending_ = 0;
  if (clearInError_) {
    // ClearOutput has dropped the queue and purged the held events.
    clearInError_ = false;
    cursor_.reset();
    return;
  }
  if (errorResponse_ == OPOS_ER_RETRY) {
    // The job starts again from its first record.
    retriedFault_ = lastCheck_ != 0 ? lastCheck_ : 0;
    return;
  }
  queue_.RemoveHead(jobRecordCount_);
  cursor_.reset();
}

int32_t COutputPath::CheckStatus(int32_t station) {
  if (station != PTR_S_RECEIPT) return OPOS_E_ILLEGAL;
  return port_->CheckReady();
}

bool COutputPath::WriteRecord(std::string_view data, bool image) {
  std::lock_guard<std::mutex> w(writeLock_);
  if (image) {
    // Counted from the write, not from the call that queued it: an earlier
    // job may download a stored image in between. A write that fails halfway
    // has spoilt the old image too.
    bitmaps_.MarkLost();
    return PortWrite(data);
  }
  if (data.find("\x1b|") == std::string_view::npos) return PortWrite(data);
  std::string resolved(data);
  if (!bitmaps_.Resolve(resolved, [this](std::string_view d) { return PortWrite(d); })) return false;
  return PortWrite(resolved);
}

bool COutputPath::PortWrite(std::string_view data) {
  // Nothing to write is not a failure (the port would purge and answer 0).
  if (data.empty()) return true;
  return port_->Write(reinterpret_cast<const uint8_t*>(data.data()), data.size()) == 1;
}

bool COutputPath::StopWithin(int ms) const {
  return stopSignal_.Wait(ms);
}

}  // namespace opos
