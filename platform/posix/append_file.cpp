#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace opos::platform {

int OpenForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
}

void AppendToFile(int fd, const std::string& text) {
  (void)!::write(fd, text.data(), text.size());
}

void CloseAppendFile(int fd) {
  ::close(fd);
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  ::localtime_r(&t, &local);
  return local;
}

long ProcessId() {
  return static_cast<long>(::getpid());
}

}  // namespace opos::platform
