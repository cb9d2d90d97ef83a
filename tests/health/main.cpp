// The health tests need a process without a controlling terminal, so that a
// prompt without a hook closes at once wherever they run: started from a
// terminal, the program runs itself again in a session of its own.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty >= 0 && !::getenv("OPOS_HEALTH_DETACHED")) {
    ::close(tty);
    ::setenv("OPOS_HEALTH_DETACHED", "1", 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/proc/self/exe", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return 1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {}
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }
  if (tty >= 0) ::close(tty);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
