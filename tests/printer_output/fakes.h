// A port that records what is written and answers CheckReady as the test
// sets it, and a host for the output path that records the events raised.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/port_object.h"
#include "common/so_event.h"
#include "platform/sync_event.h"
#include "printer/output_path.h"

namespace opos::test {

class RecordingPort : public CPortObject {
 public:
  int Open(const DeviceConfig&) override {
    opened = 1;
    return 1;
  }
  int32_t StartMonitor(uint32_t) override { return 0; }
  int Write(const uint8_t* bytes, size_t n) override {
    if (beforeWrite) beforeWrite(std::string(reinterpret_cast<const char*>(bytes), n));
    if (failWrites.load()) return 0;
    std::lock_guard<std::mutex> g(lock_);
    written_.append(reinterpret_cast<const char*>(bytes), n);
    return 1;
  }
  int Read(uint8_t*, size_t) override { return 0; }
  int32_t CheckReady() override { return ready.load(); }
  void Close() override { opened = 0; }

  std::string Written() const {
    std::lock_guard<std::mutex> g(lock_);
    return written_;
  }
  void ClearWritten() {
    std::lock_guard<std::mutex> g(lock_);
    written_.clear();
  }

  std::atomic<int32_t> ready{0};
  std::atomic<bool> failWrites{false};
  // Runs on the writing thread before each write (set before the writer starts).
  std::function<void(const std::string&)> beforeWrite;

 private:
  mutable std::mutex lock_;
  std::string written_;
};

struct Raised {
  int32_t kind;
  int32_t p1, p2, p3;
  uint64_t errorSeq;  // Error records of the output worker
};

class RecordingHost final : public COutputPath::Host {
 public:
  bool IsClaimed() const override { return claimed.load(); }
  void SetState(int32_t s) override { state = s; }
  bool EventsFrozen() const override { return frozen.load(); }
  void BeginEventPurge() override {}
  void SetResultCodes(int32_t code, int32_t extended) override {
    resultCode = code;
    resultCodeExtended = extended;
  }
  void RaiseEvent(std::unique_ptr<CSOEvent> r) override {
    Raised e{r->kind, r->param1, r->param2, r->param3, 0};
    if (auto* oe = dynamic_cast<COutputErrorEvent*>(r.get())) e.errorSeq = oe->errorSeq;
    {
      std::lock_guard<std::mutex> g(lock_);
      events_.push_back(e);
    }
    cv_.notify_all();
  }

  // Waits until n events were raised (bounded).
  void WaitEvents(size_t n, int ms = 5000) const {
    std::unique_lock<std::mutex> g(lock_);
    cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return events_.size() >= n; });
  }
  // Waits for the next event of `kind` at or after position `from`.
  bool WaitKind(int32_t kind, size_t from, Raised* out, int ms = 5000) const {
    std::unique_lock<std::mutex> g(lock_);
    return cv_.wait_for(g, std::chrono::milliseconds(ms), [&] {
      for (size_t i = from; i < events_.size(); ++i) {
        if (events_[i].kind == kind) {
          if (out) *out = events_[i];
          return true;
        }
      }
      return false;
    });
  }
  std::vector<int32_t> Data(int32_t kind) const {
    std::vector<int32_t> out;
    std::lock_guard<std::mutex> g(lock_);
    for (const Raised& e : events_) {
      if (e.kind == kind) out.push_back(e.p1);
    }
    return out;
  }

  std::atomic<bool> claimed{true};
  std::atomic<bool> frozen{false};
  std::atomic<int32_t> state{OPOS_S_IDLE};
  std::atomic<int32_t> resultCode{0};
  std::atomic<int32_t> resultCodeExtended{0};

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::vector<Raised> events_;
};

}  // namespace opos::test
