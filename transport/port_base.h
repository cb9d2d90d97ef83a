// CPortBase: what the serial, parallel and USB port objects share: joining
// the port share table and the cross-process device lock, the failure cause, the chunked write,
// the read of what is waiting, the status reader thread and the printer-side
// readiness answer. Each transport says in a PortProfile where it differs.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/port_object.h"
#include "platform/device_io.h"
#include "platform/pollable_event.h"
#include "platform/port_lock.h"
#include "platform/sync_event.h"
#include "transport/port_share_table.h"
#include "transport/port_status.h"

namespace opos {

struct PortProfile {
  int chunkLimitMs;               // a write chunk not taken within this fails the write
  int chunkPauseMs;               // pause after each chunk
  int slowPassMs;                 // status reader pass
  int fastPassMs;                 // ... while bFastPoll is set
  int resendPauseMs;              // after re-sending GS a 255 while statusError is set
  int settleMs;                   // CheckReady's pause after an error has cleared
  int readWaitMs;                 // Read waits this long for the first byte
  bool imagesLostOnWriteFailure;  // a failed write makes the printer forget its image
};

inline constexpr size_t kWriteChunk = 64;
inline constexpr size_t kStatusBufferSize = 256;
// A reply is complete once the line has been quiet this long: more than one
// character time at the slowest serial rate (1200 bit/s, about 8.3 ms).
inline constexpr int kQuietGapMs = 10;

class CPortBase : public CPortObject {
 public:
  explicit CPortBase(const PortProfile& profile) : profile_(profile) {}
  ~CPortBase() override;
  CPortBase(const CPortBase&) = delete;
  CPortBase& operator=(const CPortBase&) = delete;

  // Write: any service thread; whole writes on one port never interleave.
  int Write(const uint8_t* bytes, size_t length) override;
  int Read(uint8_t* buffer, size_t maxBytes) override;
  // Printer side: 201, 203, 106 from the status cells, else 0 (after a
  // settle pause when the previous answer was an error). Drawer side: the
  // transport's own rule. A port object that is not open answers 106.
  int32_t CheckReady() override;
  // Stops this object's status reader, leaves the port (handing ownership to
  // the remaining port object, or closing the device when it was the last).
  void Close() final;
  // Runs fn under the port share table's lock, so the printer service cannot
  // leave the port (and go away) while fn reads it.
  bool WithPrinter(const std::function<void(const IPrinterLink&)>& fn) const override;
  std::string FailureDetail() const override;

  // Observers for tests and diagnostics.
  int DeviceHandle() const;
  int PortUsers() const;
  bool IsPortOwner() const;
  bool StatusReaderRunning() const { return statusThread_.joinable(); }

 protected:
  // Resolves the device's identity (a character device only), then joins the port's slot or opens
  // the device, takes its cross-process lock and only then sets it up with configure (false with
  // errno or *why set refuses it), so a process refused the port never changes its line.
  // Every refusal leaves its cause in FailureDetail().
  using DeviceSetup = std::function<bool(int fd, std::string* why)>;
  [[nodiscard]] bool AttachDevice(const std::string& devicePath, const DeviceSetup& configure = {});
  // The path the port's device was opened by; "" when not open.
  std::string OpenPath() const;
  // Records why an Open or Write failed.
  void SetFailureDetail(std::string text);
  void NoteWriteFailure(const std::string& path, platform::IoStatus status, size_t taken, size_t length);
  // Parallel/USB: the device's own write pacing (chunk bytes, pause after
  // each); a negative value keeps the profile's, chunk 0 writes as much as
  // the device takes at once.
  void UseWritePacing(int32_t chunkBytes, int32_t pauseMs);
  // Clears the status cells that a claim starts from.
  void ResetStatusCells();
  // Sends GS a 255 and applies the reply, waiting for it at most replyWaitMs.
  void RequestStatusReport(int replyWaitMs);
  [[nodiscard]] bool StartStatusReader();
  // Parallel/USB drawer side: while the printer-side port object on this port
  // is monitoring and not ready, wait up to timeoutMs; 0 or its code.
  int32_t WaitForPrinterReady(uint32_t timeoutMs, int afterWaitMs);
  // Parallel/USB drawer side: DLE EOT 1 and the sensor from the answer.
  int32_t AskDrawerState(int replyWaitMs);
  // The end of every zero answer: settle after an error, clear the latch.
  int32_t SettleAndAnswerReady();
  void MarkPrinterImagesLost();
  // Reads what the printer sends within waitMs: waits for the first byte, then
  // keeps reading while the next follows within kQuietGapMs, so that one reply
  // is read whole. A device whose readiness says nothing (poll() answers
  // "readable" with nothing to read) is read once after the whole wait.
  platform::ReadResult ReadDevice(uint8_t* buffer, size_t maxBytes, int waitMs);
  platform::ReadResult ReadArrived(uint8_t* buffer, size_t maxBytes, int waitMs);
  // Waits up to ms for Close; true when Close came.
  bool WaitForStop(int ms) { return stop_.Wait(ms); }
  // The status reader looks at the device and its pace again at once.
  void WakeStatusReader() { wake_.Set(); }
  // Must be the first thing a transport's destructor does, so that the
  // status reader never runs while the object is half destroyed.
  void CloseBeforeDestruction() { Close(); }

  virtual int32_t DrawerCheckReady() = 0;
  // Serial: CTS is off.
  virtual bool LineDown(int fd) { return false; }
  // Serial: the bytes have left the port.
  virtual bool FinishWrite(int fd) { return true; }

 private:
  std::shared_ptr<SharedDevice> Device() const;
  void ApplyStatus(const uint8_t* data, size_t length);
  // What the status reader does with one read: CTS, a lost device, the report.
  void TakeStatusRead(const uint8_t* data, const platform::ReadResult& r);
  int PassMs() const { return bFastPoll.load() != 0 ? profile_.fastPassMs : profile_.slowPassMs; }
  void PortStatusThread();

  const PortProfile profile_;
  std::atomic<size_t> chunkBytes_{kWriteChunk};  // 0: as much as the device takes
  std::atomic<int> chunkPauseMs_{profile_.chunkPauseMs};
  mutable std::mutex deviceLock_;  // guards device_ (Close against a stray Write)
  std::shared_ptr<SharedDevice> device_;
  mutable std::mutex detailLock_;
  std::string failureDetail_;
  platform::PollableEvent stop_;
  platform::PollableEvent wake_;  // fast polling asked for, or a reply is expected
  platform::Event reportSeen_;    // a status report reached this object's cells
  std::thread statusThread_;      // started and joined on the application thread only
};

}  // namespace opos
