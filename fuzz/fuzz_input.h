// Shared by the fuzz targets: a reader that takes typed values off the front of
// the input (zeros once it runs dry), a hard check, and a scratch folder on a
// memory file system so that file-backed parsers stay fast.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// Stops the run with a crash report: the input broke a promise of the code.
inline void check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "check failed at %s:%d\n", file, line);
  std::abort();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  bool flag() { return (byte() & 1) != 0; }
  // Up to max bytes, the length taken from the input.
  std::string bytes(size_t max) {
    size_t n = byte();
    if (max > 255) n = n << 8 | byte();
    n = n % (max + 1);
    if (n > size_ - at_) n = size_ - at_;
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string rest() {
    std::string s(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
    at_ = size_;
    return s;
  }
  bool empty() const { return at_ >= size_; }
  size_t left() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A folder of its own under /dev/shm (else /tmp), made once per process.
inline const std::string& ScratchDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string* dir = [] {
    std::string tmpl =
        (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/opos-fuzz-XXXXXX");
    check(mkdtemp(tmpl.data()) != nullptr);
    return new std::string(tmpl);
  }();
  static const bool cleanup = std::atexit([] {
                                std::error_code ec;
                                std::filesystem::remove_all(*dir, ec);
                              }) == 0;
  (void)cleanup;
  return *dir;
}

}  // namespace fuzz

// A small quarantine and short allocation stacks: the store and the file
// system calls allocate a lot per input, and the defaults cost most of the run.
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16:malloc_context_size=4:max_malloc_fill_size=0";
}
