// An event sink standing in for the Control Object: records every event method
// call the Service Object makes, with the thread it arrived on.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch.h"

namespace opos::test {

struct SinkEvent {
  std::string method;
  std::vector<int32_t> args;
  std::thread::id thread;
};

class TestSink : public com::IDispatch {
 public:
  explicit TestSink(std::vector<std::string> names = {"SODirectIO", "SOError", "SOOutputComplete",
                                                      "SOStatusUpdate"})
      : names_(std::move(names)) {}
  virtual ~TestSink() = default;
  uint32_t AddRef() override { return 1; }
  uint32_t Release() override { return 1; }
  com::HRESULT GetIDsOfNames(const std::string& name, int32_t* dispid) override {
    for (size_t i = 0; i < names_.size(); ++i) {
      if (names_[i] == name) {
        *dispid = static_cast<int32_t>(100 + i);
        return com::S_OK;
      }
    }
    return com::DISP_E_UNKNOWNNAME;
  }
  com::HRESULT Invoke(int32_t dispid, std::vector<com::Variant>& args, com::Variant*) override {
    SinkEvent e;
    e.method = names_.at(static_cast<size_t>(dispid - 100));
    if (e.method == "SOError" && onError) onError(args[3].plVal);
    e.thread = std::this_thread::get_id();
    for (auto& a : args) {
      int32_t v = 0;
      a.AsLong(&v);
      e.args.push_back(v);
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      events_.push_back(e);
    }
    if (onEvent) onEvent(e);
    return com::S_OK;
  }
  std::vector<SinkEvent> Events() const {
    std::lock_guard<std::mutex> g(lock_);
    return events_;
  }
  std::function<void(int32_t* response)> onError;
  // Runs on the delivering thread after the event is recorded.
  std::function<void(const SinkEvent&)> onEvent;

 private:
  std::vector<std::string> names_;
  mutable std::mutex lock_;
  std::vector<SinkEvent> events_;
};

}  // namespace opos::test
