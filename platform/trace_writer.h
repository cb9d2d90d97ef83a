// A field trace of one device: timestamped lines appended to a file, one per
// Service Object call and result, event raised and delivered, and the bytes
// written to and read from the port. Off unless a file is named; callers
// hold a null pointer then, so tracing costs nothing when off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace opos::platform {

class TraceWriter {
 public:
  // The file named by OPOS_TRACE, else configured ("" when neither), opened
  // for appending. Null when no file is named or it cannot be opened (then
  // one message on standard error says why: the device works untraced).
  static std::shared_ptr<TraceWriter> Open(const std::string& configured, const std::string& device);
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // One line: "2026-12-09 13:33:28.123 [pid device] text". Any thread.
  void Line(std::string_view text);
  // "what N bytes: 1b 40 ...": the first kBytesPerLine bytes in hex, then
  // how many more there were.
  void Bytes(std::string_view what, const uint8_t* data, size_t length);
  static constexpr size_t kBytesPerLine = 48;

  const std::string& Path() const { return path_; }

 private:
  TraceWriter(int fd, std::string path, std::string device);

  const int fd_;
  const std::string path_;
  const std::string device_;
  std::mutex lock_;  // one whole line per write
};

}  // namespace opos::platform
