#include "transport/port_base.h"

#include <algorithm>
#include <climits>
#include <system_error>

#include "common/opos.h"
#include "platform/clock.h"

namespace opos {

namespace {

constexpr int32_t kCoverOpen = 201;  // OPOS_EPTR_COVER_OPEN
constexpr int32_t kPaperEnd = 203;   // OPOS_EPTR_REC_EMPTY

const char* KindOf(const CPortObject& port) { return port.IsDrawerSide() ? "drawer" : "printer"; }

}  // namespace

CPortBase::~CPortBase() { Close(); }

std::shared_ptr<SharedDevice> CPortBase::Device() const {
  std::lock_guard<std::mutex> guard(deviceLock_);
  return device_;
}

int CPortBase::DeviceHandle() const {
  auto device = Device();
  return device ? device->fd() : -1;
}

int CPortBase::PortUsers() const { return PortShareTable::Instance().UsersOf(this); }

bool CPortBase::IsPortOwner() const { return PortShareTable::Instance().IsOwner(this); }

bool CPortBase::AttachDevice(const std::string& devicePath,
                             const std::function<int(const std::string&)>& openDevice) {
  if (opened.load() != 0) return true;
  platform::DeviceIdentity id;
  if (!platform::IdentifyDevice(devicePath, &id) || !id.charDevice) return false;
  platform::PortLock lock;
  if (!lock.TryAcquire(devicePath, KindOf(*this))) return false;

  auto opener = [&]() -> int {
    int fd = openDevice(devicePath);
    if (fd < 0) return -1;
    // The path may have been pointed elsewhere between stat and open.
    platform::DeviceIdentity got;
    if (!platform::IdentifyOpenDevice(fd, &got) || !(got == id)) {
      platform::CloseDevice(fd);
      return -1;
    }
    return fd;
  };
  std::shared_ptr<SharedDevice> device;
  auto result = PortShareTable::Instance().Attach(this, id, opener, &device);
  if (result != PortShareTable::AttachResult::kOpened && result != PortShareTable::AttachResult::kJoined) {
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(deviceLock_);
    device_ = std::move(device);
  }
  kindLock_ = std::move(lock);
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
  kindLock_.Release();
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

int CPortBase::Write(const uint8_t* bytes, size_t length) {
  if (opened.load() == 0 || bytes == nullptr || length == 0) return 0;
  auto device = Device();
  if (!device) return 0;
  bool ok = true;
  {
    std::lock_guard<std::mutex> guard(device->writeLock());
    for (size_t done = 0; done < length;) {
      size_t n = std::min(kWriteChunk, length - done);
      auto r = platform::WriteWithin(device->fd(), bytes + done, n, profile_.chunkLimitMs);
      done += r.written;
      if (r.status != platform::IoStatus::kOk) {
        if (r.status == platform::IoStatus::kLost) deviceLost.store(1);
        ok = false;
        break;
      }
      platform::SleepMs(profile_.chunkPauseMs);
    }
    // Nothing is ever purged: bytes a write took stay sent, and input
    // belongs to the status reader (a discarded ASB report would hide a
    // cover or paper change).
    if (ok) ok = FinishWrite(device->fd());
  }
  if (!ok && profile_.imagesLostOnWriteFailure) MarkPrinterImagesLost();
  return ok ? 1 : 0;
}

platform::ReadResult CPortBase::ReadDevice(uint8_t* buffer, size_t maxBytes) {
  if (opened.load() == 0 || buffer == nullptr) return {};
  auto device = Device();
  if (!device) return {};
  return platform::ReadWaiting(device->fd(), buffer, std::min<size_t>(maxBytes, INT_MAX), profile_.readWaitMs);
}

int CPortBase::Read(uint8_t* buffer, size_t maxBytes) { return static_cast<int>(ReadDevice(buffer, maxBytes).count); }

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
    // Both port objects on a port know the same printer service: tell it once.
    if (scan.processIdSeen && &port == this) {
      if (IPrinterLink* p = port.printer.load()) p->SetProcessIdSeen();
    }
  });
  if (!onPort) apply(*this);
}

void CPortBase::RequestStatusReport(int replyWaitMs) {
  (void)Write(kAsbEnable, sizeof kAsbEnable);
  platform::SleepMs(replyWaitMs);
  uint8_t buffer[kStatusBufferSize] = {};
  auto r = ReadDevice(buffer, sizeof buffer);
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

void CPortBase::PortStatusThread() {
  uint8_t buffer[kStatusBufferSize];
  for (;;) {
    if (WaitForStop(bFastPoll.load() != 0 ? profile_.fastPassMs : profile_.slowPassMs)) break;
    if (statusError.load() != 0) {
      // Ask again until a report shows a good state.
      (void)Write(kAsbEnable, sizeof kAsbEnable);
      if (WaitForStop(profile_.resendPauseMs)) break;
    }
    std::fill(std::begin(buffer), std::end(buffer), 0);
    auto r = ReadDevice(buffer, sizeof buffer);
    ctsLost.store(0);
    auto device = Device();
    if (device && LineDown(device->fd())) {
      MarkPrinterImagesLost();  // a printer without power has forgotten its image
      ctsLost.store(1);
    }
    if (ctsLost.load() != 0) statusError.store(1);
    if (r.status == platform::IoStatus::kLost) {
      MarkPrinterImagesLost();
      statusError.store(1);
      deviceLost.store(1);
    }
    ApplyStatus(buffer, r.count);
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
  // The printer's status cells carry no signal; look again at its reader's
  // fast pace until it is ready or the claim's time is up.
  constexpr int kRecheckMs = 50;
  while (code != 0) {
    uint32_t elapsed = platform::TickCount() - start;
    if (elapsed >= limitMs) {
      monitoring.store(0);
      return code;
    }
    platform::SleepMs(static_cast<int>(std::min<uint32_t>(kRecheckMs, limitMs - elapsed)));
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
  platform::SleepMs(replyWaitMs);
  uint8_t buffer[kStatusBufferSize] = {};
  auto r = ReadDevice(buffer, sizeof buffer);
  if (r.count > 0) drawerSensorLow.store((buffer[r.count - 1] & 0x04) == 0 ? 1 : 0);
  return SettleAndAnswerReady();
}

}  // namespace opos
