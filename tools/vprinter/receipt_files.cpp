#include "tools/vprinter/receipt_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vprinter {

ReceiptFiles::ReceiptFiles(std::string dir, int maxHeight)
    : dir_(std::move(dir)),
      renderer_([this](ReceiptImage&& image) { Write(std::move(image)); }, maxHeight),
      parser_([this](Command&& cmd) { renderer_.Add(cmd); }) {}

bool ReceiptFiles::PrepareDir(const std::string& dir, std::string* error) {
  if (dir.empty()) {
    if (error) *error = "no folder given for receipt images";
    return false;
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    if (error) *error = "mkdir " + dir + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (error) *error = dir + " is not a folder";
    return false;
  }
  return true;
}

void ReceiptFiles::Feed(std::span<const uint8_t> bytes) {
  parser_.Feed(bytes);
}

void ReceiptFiles::PowerCycle() {
  parser_.Reset();
  renderer_.PowerCycle();
}

void ReceiptFiles::Finish() {
  renderer_.Finish();
}

std::string ReceiptFiles::Error() const {
  std::lock_guard<std::mutex> lock(errorMu_);
  return error_;
}

void ReceiptFiles::Write(ReceiptImage&& image) {
  const std::string path = dir_ + "/" + ReceiptFileName(nextIndex_++);
  std::string why;
  if (WritePngFile(image, path, &why)) {
    written_.fetch_add(1, std::memory_order_release);
    return;
  }
  std::lock_guard<std::mutex> lock(errorMu_);
  if (error_.empty()) error_ = why;
}

}  // namespace vprinter
