#include "platform/trace_writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/append_file.h"
#include "platform/device_io.h"

namespace opos::platform {

std::shared_ptr<TraceWriter> TraceWriter::Open(const std::string& configured, const std::string& device) {
  const char* env = std::getenv("OPOS_TRACE");
  const std::string path = env != nullptr && *env != '\0' ? env : configured;
  if (path.empty()) return nullptr;
  const int fd = OpenForAppend(path);
  if (fd < 0) {
    std::fprintf(stderr, "opos: trace file %s: %s; tracing %s is off\n", path.c_str(),
                 ErrorText(errno).c_str(), device.c_str());
    return nullptr;
  }
  return std::shared_ptr<TraceWriter>(new TraceWriter(fd, path, device));
}

TraceWriter::TraceWriter(int fd, std::string path, std::string device)
    : fd_(fd), path_(std::move(path)), device_(std::move(device)) {}

TraceWriter::~TraceWriter() {
  CloseAppendFile(fd_);
}

void TraceWriter::Line(std::string_view text) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t secs = system_clock::to_time_t(now);
  const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  const std::tm local = LocalTime(secs);
  char stamp[64];
  const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string line(stamp, n);
  char tail[32];
  std::snprintf(tail, sizeof tail, ".%03d [%ld ", ms, ProcessId());
  line += tail;
  line += device_;
  line += "] ";
  line += text;
  line += '\n';
  std::lock_guard<std::mutex> guard(lock_);
  // Appending keeps lines of several processes whole; a short write is let go.
  AppendToFile(fd_, line);
}

void TraceWriter::Bytes(std::string_view what, const uint8_t* data, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(what);
  text += ' ' + std::to_string(length) + " bytes:";
  const size_t shown = length < kBytesPerLine ? length : kBytesPerLine;
  for (size_t i = 0; i < shown; ++i) {
    text += ' ';
    text += kHex[data[i] >> 4];
    text += kHex[data[i] & 15];
  }
  if (shown < length) text += " ... (" + std::to_string(length - shown) + " more)";
  Line(text);
}

}  // namespace opos::platform
