#include "tools/vprinter/receipt_image.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vprinter {

bool EncodePng(const ReceiptImage& image, std::vector<uint8_t>* png, std::string* error) {
  if (image.width <= 0 || image.height <= 0 ||
      image.dots.size() != static_cast<size_t>(image.width) * static_cast<size_t>(image.height)) {
    if (error) *error = "image has no size or its dots do not match it";
    return false;
  }
  std::vector<uint8_t> grey(image.dots.size());
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = image.dots[i] ? 0 : 255;

  png_image info{};
  info.version = PNG_IMAGE_VERSION;
  info.width = static_cast<png_uint_32>(image.width);
  info.height = static_cast<png_uint_32>(image.height);
  info.format = PNG_FORMAT_GRAY;
  png_alloc_size_t size = 0;
  // First call sizes the buffer, the second fills it.
  if (!png_image_write_to_memory(&info, nullptr, &size, 0, grey.data(), 0, nullptr)) {
    if (error) *error = std::string("libpng: ") + info.message;
    png_image_free(&info);
    return false;
  }
  png->resize(size);
  if (!png_image_write_to_memory(&info, png->data(), &size, 0, grey.data(), 0, nullptr)) {
    if (error) *error = std::string("libpng: ") + info.message;
    png_image_free(&info);
    png->clear();
    return false;
  }
  png->resize(size);
  return true;
}

bool WritePngFile(const ReceiptImage& image, const std::string& path, std::string* error) {
  std::vector<uint8_t> png;
  if (!EncodePng(image, &png, error)) return false;
  const std::string temp = path + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "open " + temp + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < png.size()) {
    const ssize_t n = ::write(fd, png.data() + done, png.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) *error = "write " + temp + ": " + std::strerror(n < 0 ? errno : EIO);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "write " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string ReceiptFileName(size_t index) {
  char name[40];
  std::snprintf(name, sizeof name, "receipt-%04zu.png", index);
  return name;
}

}  // namespace vprinter
