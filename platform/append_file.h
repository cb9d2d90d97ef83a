// Files that lines are appended to, as the trace writes them, and the bits of
// the system a trace line names: the local time and the process.
#pragma once

#include <ctime>
#include <string>

namespace opos::platform {

// Opens path for appending (created when missing, not inherited by child
// processes); -1 with errno set when it cannot.
[[nodiscard]] int OpenForAppend(const std::string& path);
// One write at the end of the file; a short write is let go.
void AppendToFile(int fd, const std::string& text);
void CloseAppendFile(int fd);

[[nodiscard]] std::tm LocalTime(std::time_t t);
[[nodiscard]] long ProcessId();

}  // namespace opos::platform
