#include "transport/port_base.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <system_error>

#include "common/opos.h"
#include "platform/clock.h"
#include "platform/trace_writer.h"

namespace opos {

namespace {

constexpr int32_t kCoverOpen = 201;  // OPOS_EPTR_COVER_OPEN
constexpr int32_t kPaperEnd = 203;   // OPOS_EPTR_REC_EMPTY

const char* KindOf(const CPortObject& port) {
  return port.IsDrawerSide() ? "drawer" : "printer";
}

}  // namespace

CPortBase::~CPortBase() {
  Close();
}

std::shared_ptr<SharedDevice> CPortBase::Device() const {
  std::lock_guard<std::mutex> guard(deviceLock_);
  return device_;
}

int CPortBase::DeviceHandle() const {
  auto device = Device();
  return device ? device->Fd() : -1;
}

int CPortBase::PortUsers() const {
  return PortShareTable::Instance().UsersOf(this);
}

bool CPortBase::IsPortOwner() const {
  return PortShareTable::Instance().IsOwner(this);
}

std::string CPortBase::OpenPath() const {
  auto device = Device();
  return device ? device->Path() : std::string();
}

std::string CPortBase::FailureDetail() const {
  std::lock_guard<std::mutex> guard(detailLock_);
  return failureDetail_;
}

void CPortBase::SetFailureDetail(std::string text) {
  std::lock_guard<std::mutex> guard(detailLock_);
  failureDetail_ = std::move(text);
}

bool CPortBase::AttachDevice(const std::string& devicePath, const DeviceSetup& configure) {
  if (opened.load() != 0) return true;
  platform::DeviceIdentity id;
  if (!platform::IdentifyDevice(devicePath, &id)) {
    SetFailureDetail(devicePath + ": " + platform::ErrorText(errno));
    return false;
  }
  if (!id.charDevice) {
    SetFailureDetail(devicePath + ": not a character device");
    return false;
  }

  std::string why;
  auto opener = [&]() -> std::shared_ptr<SharedDevice> {
    int fd = platform::OpenCharDevice(devicePath);
    if (fd < 0) {
      why = "cannot open: " + platform::ErrorText(errno);
      return nullptr;
    }
    // The path may have been pointed elsewhere between stat and open.
    platform::DeviceIdentity got;
    if (!platform::IdentifyOpenDevice(fd, &got) || !(got == id)) {
      platform::CloseDevice(fd);
      why = "the path was changed while it was being opened";
      return nullptr;
    }
    // Only after the open: who cannot open the device never holds its lock.
    platform::PortLock lock;
    if (!lock.TryAcquire(id.major, &why)) {
      platform::CloseDevice(fd);
      return nullptr;
    }
    errno = 0;
    if (configure && !configure(fd, &why)) {
      if (why.empty()) why = platform::ErrorText(errno);
      platform::CloseDevice(fd);
      return nullptr;
    }
    return std::make_shared<SharedDevice>(fd, devicePath, std::move(lock));
  };
  std::shared_ptr<SharedDevice> device;
  switch (PortShareTable::Instance().Attach(this, id, opener, &device)) {
    case PortShareTable::AttachResult::kOpened:
    case PortShareTable::AttachResult::kJoined:
      break;
    case PortShareTable::AttachResult::kSameKindInUse:
      SetFailureDetail(devicePath + ": its " + KindOf(*this) + " side is in use in this process");
      return false;
    case PortShareTable::AttachResult::kTableFull:
      SetFailureDetail(devicePath + ": no free port slot (" + std::to_string(PortShareTable::kSlots) +
                       " ports are open in this process)");
      return false;
    case PortShareTable::AttachResult::kOpenFailed:
      SetFailureDetail(devicePath + ": " + why);
      return false;
  }
  {
    std::lock_guard<std::mutex> guard(deviceLock_);
    device_ = std::move(device);
  }
  SetFailureDetail({});
  opened.store(1);
  return true;
}

void CPortBase::Close() {
  if (opened.exchange(0) == 0) return;
  stop_.Set();
  if (statusThread_.joinable()) statusThread_.join();
  stop_.Reset();
  PortShareTable::Instance().Detach(this);
  {
    std::lock_guard<std::mutex> guard(deviceLock_);
    device_.reset();
  }
  printer.store(nullptr);
  drawer.store(nullptr);
  monitoring.store(0);
}

bool CPortBase::WithPrinter(const std::function<void(const IPrinterLink&)>& fn) const {
  bool called = false;
  bool onPort = PortShareTable::Instance().ForEachOnPort(this, [&](CPortObject& port) {
    if (&port != this) return;
    if (IPrinterLink* p = port.printer.load()) {
      fn(*p);
      called = true;
    }
  });
  return onPort ? called : CPortObject::WithPrinter(fn);
}

void CPortBase::UseWritePacing(int32_t chunkBytes, int32_t pauseMs) {
  chunkBytes_.store(chunkBytes < 0 ? kWriteChunk : static_cast<size_t>(chunkBytes));
  chunkPauseMs_.store(pauseMs < 0 ? profile_.chunkPauseMs : pauseMs);
}

int CPortBase::Write(const uint8_t* bytes, size_t length) {
  if (opened.load() == 0 || bytes == nullptr || length == 0) return 0;
  auto device = Device();
  if (!device) return 0;
  if (platform::TraceWriter* t = trace.load(std::memory_order_relaxed)) t->Bytes("write", bytes, length);
  const size_t chunk = chunkBytes_.load();
  const int pauseMs = chunkPauseMs_.load();
  bool ok = true;
  {
    std::lock_guard<std::mutex> guard(device->WriteLock());
    for (size_t done = 0; done < length;) {
      // Chunk 0: each write the device takes counts as a chunk, and the
      // chunk's time limit holds for each of them.
      auto r = chunk == 0 ? platform::WriteWhileTaken(device->Fd(), bytes + done, length - done,
                                                      profile_.chunkLimitMs)
                          : platform::WriteWithin(device->Fd(), bytes + done, std::min(chunk, length - done),
                                                  profile_.chunkLimitMs);
      done += r.written;
      if (r.status != platform::IoStatus::kOk) {
        NoteWriteFailure(device->Path(), r.status, done, length);
        if (r.status == platform::IoStatus::kLost) deviceLost.store(1);
        ok = false;
        break;
      }
      if (pauseMs > 0) platform::SleepMs(pauseMs);
    }
    // Nothing is ever purged: bytes a write took stay sent, and input
    // belongs to the status reader (a discarded ASB report would hide a
    // cover or paper change).
    if (ok) ok = FinishWrite(device->Fd());
  }
  if (!ok && profile_.imagesLostOnWriteFailure) MarkPrinterImagesLost();
  if (platform::TraceWriter* t = trace.load(std::memory_order_relaxed); t && !ok) t->Line(FailureDetail());
  // A request sent while the printer service waits for its answer: the
  // reader takes up the fast pace now, not after its current pause.
  if (bFastPoll.load() != 0) WakeStatusReader();
  return ok ? 1 : 0;
}

void CPortBase::NoteWriteFailure(const std::string& path, platform::IoStatus status, size_t taken,
                                 size_t length) {
  const char* reason = status == platform::IoStatus::kTimedOut
                           ? "the device took no more bytes within the time limit"
                       : status == platform::IoStatus::kLost ? "the device is gone or hung up"
                                                             : "write error";
  SetFailureDetail("write to " + path + ": " + reason + " (" + std::to_string(taken) + " of " +
                   std::to_string(length) + " bytes taken)");
}

platform::ReadResult CPortBase::ReadDevice(uint8_t* buffer, size_t maxBytes, int waitMs) {
  auto r = ReadArrived(buffer, maxBytes, waitMs);
  if (platform::TraceWriter* t = trace.load(std::memory_order_relaxed); t && r.count > 0)
    t->Bytes("read", buffer, r.count);
  return r;
}

platform::ReadResult CPortBase::ReadArrived(uint8_t* buffer, size_t maxBytes, int waitMs) {
  if (opened.load() == 0 || buffer == nullptr || maxBytes == 0) return {};
  auto device = Device();
  if (!device) return {};
  const int fd = device->Fd();
  maxBytes = std::min<size_t>(maxBytes, INT_MAX);
  const uint32_t start = platform::TickCount();
  auto leftMs = [&] {
    const uint32_t spent = platform::TickCount() - start;
    return spent >= static_cast<uint32_t>(std::max(waitMs, 0)) ? 0 : waitMs - static_cast<int>(spent);
  };
  size_t count = 0;
  while (count < maxBytes) {
    auto w = platform::WaitForInput(fd, {&stop_}, count == 0 ? leftMs() : kQuietGapMs);
    if (!w.input) break;  // quiet, the wait is over, or closing
    auto r = platform::ReadWaiting(fd, buffer + count, maxBytes - count, 0);
    if (r.status != platform::IoStatus::kOk) {
      if (count == 0) return r;
      break;  // the bytes first; the next read reports the device
    }
    if (r.count == 0) {
      if (count > 0) break;
      // Readable yet empty: another reader on the port took the bytes, or the
      // driver cannot tell. Sleep out the wait and read what came.
      if (waitMs > 0 && stop_.Wait(leftMs())) return {};
      return platform::ReadWaiting(fd, buffer, maxBytes, 0);
    }
    count += r.count;
  }
  return {platform::IoStatus::kOk, count};
}

int CPortBase::Read(uint8_t* buffer, size_t maxBytes) {
  return static_cast<int>(ReadDevice(buffer, maxBytes, profile_.readWaitMs).count);
}

int32_t CPortBase::CheckReady() {
  if (opened.load() == 0) return OPOS_E_ILLEGAL;
  if (IsDrawerSide()) return DrawerCheckReady();
  int32_t answer = 0;
  if (coverOpen.load() != 0) {
    answer = kCoverOpen;
  } else if (paperEnd.load() != 0) {
    answer = kPaperEnd;
  } else if (statusError.load() != 0) {
    answer = OPOS_E_ILLEGAL;
  }
  if (answer != 0) {
    errorLatched.store(1);
    return answer;
  }
  return SettleAndAnswerReady();
}

int32_t CPortBase::SettleAndAnswerReady() {
  if (errorLatched.load() != 0) platform::SleepMs(profile_.settleMs);  // the printer settles after an error
  errorLatched.store(0);
  return 0;
}

void CPortBase::ResetStatusCells() {
  coverOpen.store(0);
  paperEnd.store(0);
  statusError.store(0);
  errorLatched.store(0);
  ctsLost.store(0);
  deviceLost.store(0);
}

void CPortBase::MarkPrinterImagesLost() {
  // Under the table lock, so the printer service cannot leave the port meanwhile.
  PortShareTable::Instance().ForEachOnPort(this, [this](CPortObject& port) {
    if (&port != this) return;
    if (IPrinterLink* p = port.printer.load()) p->MarkImagesLost();
  });
}

void CPortBase::ApplyStatus(const uint8_t* data, size_t length) {
  StatusScan scan = ScanStatus(data, length);
  if (!scan.processIdSeen && !scan.hasReport) return;
  // Every port object on the port reads the same device, and whichever
  // reader gets the bytes, all of them must see the report.
  auto apply = [&](CPortObject& port) {
    if (!scan.hasReport) return;
    port.drawerSensorLow.store(scan.report.drawerSensorLow ? 1 : 0);
    port.coverOpen.store(scan.report.coverOpen ? 1 : 0);
    port.paperEnd.store(scan.report.paperEnd ? 1 : 0);
    port.statusError.store(scan.report.coverOpen || scan.report.paperEnd ? 1 : 0);
  };
  bool onPort = PortShareTable::Instance().ForEachOnPort(this, [&](CPortObject& port) {
    apply(port);
    if (scan.hasReport) {
      if (auto* base = dynamic_cast<CPortBase*>(&port)) base->reportSeen_.Set();
    }
    // Both port objects on a port know the same printer service: tell it once.
    if (&port != this) return;
    if (IPrinterLink* p = port.printer.load()) {
      if (scan.processIdSeen) p->SetProcessIdSeen();
      if (scan.hasReport) p->StatusReportArrived();
    }
  });
  if (!onPort) {
    apply(*this);
    if (scan.hasReport) reportSeen_.Set();
  }
}

void CPortBase::RequestStatusReport(int replyWaitMs) {
  (void)Write(kAsbEnable, sizeof kAsbEnable);
  uint8_t buffer[kStatusBufferSize] = {};
  auto r = ReadDevice(buffer, sizeof buffer, replyWaitMs);
  if (r.status == platform::IoStatus::kLost) {
    statusError.store(1);
    deviceLost.store(1);
  }
  ApplyStatus(buffer, r.count);
}

bool CPortBase::StartStatusReader() {
  if (statusThread_.joinable()) return true;
  try {
    statusThread_ = std::thread(&CPortBase::PortStatusThread, this);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void CPortBase::TakeStatusRead(const uint8_t* data, const platform::ReadResult& r) {
  ctsLost.store(0);
  auto device = Device();
  if (device && LineDown(device->Fd())) {
    MarkPrinterImagesLost();  // a printer without power has forgotten its image
    ctsLost.store(1);
  }
  if (ctsLost.load() != 0) statusError.store(1);
  if (r.status == platform::IoStatus::kLost) {
    MarkPrinterImagesLost();
    statusError.store(1);
    deviceLost.store(1);
  }
  ApplyStatus(data, r.count);
}

void CPortBase::PortStatusThread() {
  // The reader sleeps in poll() on the device, the stop and the wake signal:
  // bytes are decoded as they arrive. The passes (re-sending GS a 255 while in
  // error, the CTS check, a read whatever poll() said) keep their pace.
  constexpr int kMaxEmptyWakes = 16;
  uint8_t buffer[kStatusBufferSize];
  auto device = Device();
  const int fd = device ? device->Fd() : -1;
  bool watchInput = fd >= 0;  // off while poll() on the device cannot be trusted
  int emptyWakes = 0;
  uint32_t passStart = platform::TickCount();
  auto passLeftMs = [&] {
    const uint32_t spent = platform::TickCount() - passStart;
    const int pass = PassMs();
    return spent >= static_cast<uint32_t>(pass) ? 0 : pass - static_cast<int>(spent);
  };
  for (;;) {
    auto w = platform::WaitForInput(watchInput ? fd : -1, {&stop_, &wake_}, passLeftMs());
    if (stop_.IsSet()) break;
    if (wake_.IsSet()) wake_.Reset();  // the pace may have changed: passLeftMs() reads it anew
    if (w.input) {
      std::fill(std::begin(buffer), std::end(buffer), 0);
      auto r = ReadDevice(buffer, sizeof buffer, 0);
      if (r.count > 0) {
        emptyWakes = 0;
      } else if (r.status == platform::IoStatus::kLost || ++emptyWakes >= kMaxEmptyWakes) {
        // A hung-up device stays readable, and some drivers always answer
        // "readable": read at the passes' pace until bytes come again.
        watchInput = false;
        emptyWakes = 0;
      }
      if (r.count > 0 || r.status != platform::IoStatus::kOk) TakeStatusRead(buffer, r);
      continue;
    }
    if (passLeftMs() > 0) continue;
    if (statusError.load() != 0) {
      // Ask again until a report shows a good state.
      (void)Write(kAsbEnable, sizeof kAsbEnable);
      if (WaitForStop(profile_.resendPauseMs)) break;
    }
    std::fill(std::begin(buffer), std::end(buffer), 0);
    auto r = platform::ReadWaiting(fd, buffer, sizeof buffer, profile_.readWaitMs);
    if (r.count > 0 && fd >= 0) watchInput = true;
    TakeStatusRead(buffer, r);
    passStart = platform::TickCount();
  }
}

int32_t CPortBase::WaitForPrinterReady(uint32_t limitMs, int afterWaitMs) {
  auto printerCode = [this]() {
    int32_t code = 0;
    PortShareTable::Instance().ForEachOnPort(this, [&](CPortObject& port) {
      if (code != 0 || port.IsDrawerSide() || port.monitoring.load() == 0) return;
      if (port.coverOpen.load() != 0) {
        code = kCoverOpen;
      } else if (port.paperEnd.load() != 0) {
        code = kPaperEnd;
      } else if (port.statusError.load() != 0) {
        code = OPOS_E_ILLEGAL;
      }
    });
    return code;
  };
  int32_t code = printerCode();
  if (code == 0) return 0;
  const uint32_t start = platform::TickCount();
  // Every report the printer's reader applies signals reportSeen_, so the
  // answer is read as soon as it changes; the recheck only notices the
  // printer leaving the port, which carries no signal.
  constexpr int kRecheckMs = 50;
  while (code != 0) {
    uint32_t elapsed = platform::TickCount() - start;
    if (elapsed >= limitMs) {
      monitoring.store(0);
      return code;
    }
    reportSeen_.Reset();
    code = printerCode();
    if (code == 0) break;
    (void)reportSeen_.Wait(static_cast<int>(std::min<uint32_t>(kRecheckMs, limitMs - elapsed)));
    code = printerCode();
  }
  platform::SleepMs(afterWaitMs);
  return 0;
}

int32_t CPortBase::AskDrawerState(int replyWaitMs) {
  if (drawer.load() == nullptr) {
    drawerSensorLow.store(0);
    return SettleAndAnswerReady();
  }
  bool printerReading = false;
  PortShareTable::Instance().ForEachOnPort(this, [&](CPortObject& port) {
    if (!port.IsDrawerSide() && port.monitoring.load() != 0) printerReading = true;
  });
  if (printerReading) {
    // The printer's status reader owns the input and passes every report on
    // to this object too; a reply read here would take its reports away.
    return SettleAndAnswerReady();
  }
  if (Write(kRealTimeStatus, sizeof kRealTimeStatus) == 0) {
    // No answer can come: the drawer state is unknown, not "closed and fine".
    errorLatched.store(1);
    return OPOS_E_ILLEGAL;
  }
  uint8_t buffer[kStatusBufferSize] = {};
  auto r = ReadDevice(buffer, sizeof buffer, replyWaitMs);
  if (r.count > 0) drawerSensorLow.store((buffer[r.count - 1] & 0x04) == 0 ? 1 : 0);
  return SettleAndAnswerReady();
}

}  // namespace opos
