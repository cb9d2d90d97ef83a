// Shows the health-check prompt without a hook in a fresh session (the test
// spawns it with a session of its own): on the terminal named by argv[1],
// which becomes the controlling terminal, or with none when argv[1] is "-".
// Prints what the prompt answered.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/prompt.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (std::strcmp(argv[1], "-") != 0) {
    const int fd = ::open(argv[1], O_RDWR);
    if (fd < 0 || ::ioctl(fd, TIOCSCTTY, 0) != 0) return 3;
  }
  int presses = 0;
  const auto start = std::chrono::steady_clock::now();
  const opos::platform::PromptDialog dialog{"CheckHealth",
                                            "Please Push the [Start] button to start the CheckHealth Method.",
                                            {{1000, "Start", false}, {1001, "Close", true}},
                                            20000};
  const int answer = opos::platform::ShowPrompt(dialog, [&presses](int id) { presses += id == 1000; });
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("answer=%d presses=%d ms=%lld\n", answer, presses, static_cast<long long>(ms));
  return 0;
}
