#include "platform/append_file.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>

namespace opos::platform {

int OpenForAppend(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT, 0644);
}

void AppendToFile(int fd, const std::string& text) {
  (void)!::_write(fd, text.data(), static_cast<unsigned>(text.size()));
}

void CloseAppendFile(int fd) {
  ::_close(fd);
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  ::localtime_s(&local, &t);
  return local;
}

long ProcessId() {
  return static_cast<long>(::_getpid());
}

}  // namespace opos::platform
