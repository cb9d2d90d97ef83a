#include "tools/vprinter/receipt_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vprinter {

ReceiptFiles::ReceiptFiles(std::string dir, int max_height)
    : dir_(std::move(dir)),
      renderer_([this](ReceiptImage&& image) { write(std::move(image)); }, max_height),
      parser_([this](Command&& cmd) { renderer_.add(cmd); }) {}

bool ReceiptFiles::prepare_dir(const std::string& dir, std::string* error) {
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

void ReceiptFiles::feed(std::span<const uint8_t> bytes) {
  parser_.feed(bytes);
}

void ReceiptFiles::power_cycle() {
  parser_.reset();
  renderer_.power_cycle();
}

void ReceiptFiles::finish() {
  renderer_.finish();
}

std::string ReceiptFiles::error() const {
  std::lock_guard<std::mutex> lock(error_mu_);
  return error_;
}

void ReceiptFiles::write(ReceiptImage&& image) {
  const std::string path = dir_ + "/" + receipt_file_name(next_index_++);
  std::string why;
  if (write_png_file(image, path, &why)) {
    written_.fetch_add(1, std::memory_order_release);
    return;
  }
  std::lock_guard<std::mutex> lock(error_mu_);
  if (error_.empty()) error_ = why;
}

}  // namespace vprinter
