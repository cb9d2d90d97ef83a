// vprinter: a virtual ESC/POS receipt printer with a cash drawer, on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/vprinter/control_command.h"
#include "tools/vprinter/virtual_printer.h"

namespace {

constexpr size_t kMaxControlLine = 256;

const opos::cli::Program kProgram{
    "vprinter",
    "--link PATH [OPTIONS]",
    "virtual ESC/POS receipt printer with a cash drawer",
    {
        {"link", 'l', "PATH", "symbolic link to the printer's port (a pseudo-terminal)"},
        {"capture", 'c', "FILE", "append every received byte to FILE"},
        {"line-state", 0, "FILE",
         "write 1 (powered) or 0 (off) to FILE; the serial library reads it as CTS when OPOS_PTY_LINE_STATE "
         "names FILE"},
        {"render", 0, "DIR",
         "draw each receipt as DIR/receipt-0001.png, ... at its cut, and the unfinished one at exit (DIR is "
         "made if missing)"},
        {"control", 0, "FIFO", "read control commands from FIFO (created if missing)"},
        {"bytes-per-second", 0, "N", "print speed in bytes per second (default: instant)"},
        {"lines-per-second", 0, "N", "print speed in line feeds per second"},
        {"drawer-auto-close", 0, "MS", "drawer closes MS milliseconds after it opened"},
        {"sensor-high-when-open", 0, nullptr, "drawer switch pulls pin 3 high while open (default low)"},
        {"drawer-pins", 0, "LIST", "kick pins wired to the drawer: 2, 5 or 2,5 (default 2,5)"},
        {"asb-at-power-on", 0, "MASK", "GS a mask in force after power on (default 0)"},
    },
    "Plays an ESC/POS receipt printer with a cash drawer on a pseudo-terminal, for\n"
    "tests and demonstrations.\n"
    "\n"
    "Control commands (one per line on the FIFO): cover open|close, paper end|ok,\n"
    "power off|on, drawer open|close, offline, online, status.\n"
    "Prints \"ready SLAVE_PATH\" when the port is up; SIGINT or SIGTERM stop it.\n",
    false,
};

bool ParseNumber(std::string_view text, unsigned long max, unsigned long* out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v > max) return false;
  *out = v;
  return true;
}

bool ParsePins(std::string_view text, vprinter::PrinterConfig* config) {
  if (text == "2") {
    config->drawerOnPin2 = true;
    config->drawerOnPin5 = false;
  } else if (text == "5") {
    config->drawerOnPin2 = false;
    config->drawerOnPin5 = true;
  } else if (text == "2,5" || text == "5,2") {
    config->drawerOnPin2 = config->drawerOnPin5 = true;
  } else {
    return false;
  }
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "vprinter: %s\n", message.c_str());
  return opos::cli::kExitFailure;
}

int UsageFault(const std::string& message) {
  std::fprintf(stderr, "vprinter: %s\nTry 'vprinter --help' for more information.\n", message.c_str());
  return opos::cli::kExitUsage;
}

// Opens (creating if needed) the control FIFO. Opened read-write so that writers
// coming and going never leave it at end-of-file.
int OpenControl(const std::string& path, bool* created, std::string* error) {
  struct stat st {};
  *created = false;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISFIFO(st.st_mode)) {
      *error = path + " exists and is not a FIFO";
      return -1;
    }
  } else if (mkfifo(path.c_str(), 0600) == 0) {
    *created = true;
  } else {
    *error = "mkfifo " + path + ": " + std::strerror(errno);
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = "open " + path + ": " + std::strerror(errno);
    if (*created) ::unlink(path.c_str());
  }
  return fd;
}

void RunControlLine(vprinter::VirtualPrinter& printer, std::string_view line) {
  if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;
  const std::optional<vprinter::ControlCommand> cmd = vprinter::ParseControlCommand(line);
  if (!cmd) {
    std::fprintf(stderr, "vprinter: unknown control command \"%.*s\"\n", static_cast<int>(line.size()),
                 line.data());
    return;
  }
  const std::string text = vprinter::ApplyControlCommand(printer, *cmd);
  if (!text.empty()) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  vprinter::VirtualPrinterOptions options;
  std::string controlPath;
  opos::cli::Parsed parsed;
  const int done = opos::cli::Parse(kProgram, std::vector<std::string>(argv + 1, argv + argc), &parsed,
                                    std::cout, std::cerr);
  if (done >= 0) return done;
  unsigned long value = 0;
  for (const auto& [name, arg] : parsed.options) {
    if (name == "link") {
      options.linkPath = arg;
    } else if (name == "line-state") {
      options.lineStatePath = arg;
    } else if (name == "capture") {
      options.capturePath = arg;
    } else if (name == "render") {
      if (arg.empty()) return UsageFault("--render needs a folder");
      options.renderDir = arg;
    } else if (name == "control") {
      controlPath = arg;
    } else if (name == "bytes-per-second") {
      if (!ParseNumber(arg, 100000000, &value) || value == 0)
        return UsageFault("--bytes-per-second needs a number from 1");
      options.printer.bytesPerSecond = static_cast<uint32_t>(value);
    } else if (name == "lines-per-second") {
      if (!ParseNumber(arg, 100000, &value) || value == 0)
        return UsageFault("--lines-per-second needs a number from 1");
      options.printer.linesPerSecond = static_cast<uint32_t>(value);
    } else if (name == "drawer-auto-close") {
      if (!ParseNumber(arg, 86400000, &value))
        return UsageFault("--drawer-auto-close needs milliseconds (0 to 86400000)");
      options.printer.drawerAutoClose = std::chrono::milliseconds(value);
    } else if (name == "sensor-high-when-open") {
      options.printer.sensorHighWhenOpen = true;
    } else if (name == "drawer-pins") {
      if (!ParsePins(arg, &options.printer)) return UsageFault("--drawer-pins takes 2, 5 or 2,5");
    } else if (name == "asb-at-power-on") {
      if (!ParseNumber(arg, 255, &value)) return UsageFault("--asb-at-power-on needs a mask from 0 to 255");
      options.printer.asbMaskAtPowerOn = static_cast<uint8_t>(value);
    }
  }
  if (!parsed.operands.empty()) return UsageFault("unexpected argument \"" + parsed.operands[0] + "\"");
  if (options.linkPath.empty()) return UsageFault("--link PATH is required");
  if (options.printer.bytesPerSecond != 0 && options.printer.linesPerSecond != 0) {
    return UsageFault("give either --bytes-per-second or --lines-per-second, not both");
  }

  // Signals go to the signalfd only; blocked before any thread starts so that every
  // thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) return Fail(std::string("signalfd: ") + std::strerror(errno));

  vprinter::VirtualPrinter printer(options);
  std::string error;
  if (!printer.Start(&error)) return Fail(error);

  int controlFd = -1;
  bool controlCreated = false;
  if (!controlPath.empty()) {
    controlFd = OpenControl(controlPath, &controlCreated, &error);
    if (controlFd < 0) {
      printer.Stop();
      return Fail(error);
    }
  }

  std::printf("ready %s\n", printer.SlavePath().c_str());
  std::fflush(stdout);

  std::string pending;
  bool overlong = false;
  char buf[512];
  for (;;) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {controlFd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "vprinter: poll: %s\n", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(controlFd, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
          if (pending.size() < kMaxControlLine) {
            pending += buf[i];
          } else {
            overlong = true;
          }
          continue;
        }
        if (overlong) {
          std::fprintf(stderr, "vprinter: control line longer than %zu characters ignored\n",
                       kMaxControlLine);
        } else {
          RunControlLine(printer, pending);
        }
        pending.clear();
        overlong = false;
      }
    }
  }

  printer.Stop();
  if (controlFd >= 0) ::close(controlFd);
  if (controlCreated) ::unlink(controlPath.c_str());
  ::close(signalFd);
  const std::string renderError = printer.RenderError();
  if (!renderError.empty()) return Fail("receipt image not written: " + renderError);
  return 0;
}
