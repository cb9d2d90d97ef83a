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

bool parse_number(std::string_view text, unsigned long max, unsigned long* out) {
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

bool parse_pins(std::string_view text, vprinter::PrinterConfig* config) {
  if (text == "2") {
    config->drawer_on_pin2 = true;
    config->drawer_on_pin5 = false;
  } else if (text == "5") {
    config->drawer_on_pin2 = false;
    config->drawer_on_pin5 = true;
  } else if (text == "2,5" || text == "5,2") {
    config->drawer_on_pin2 = config->drawer_on_pin5 = true;
  } else {
    return false;
  }
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "vprinter: %s\n", message.c_str());
  return opos::cli::kExitFailure;
}

int usage_fault(const std::string& message) {
  std::fprintf(stderr, "vprinter: %s\nTry 'vprinter --help' for more information.\n", message.c_str());
  return opos::cli::kExitUsage;
}

// Opens (creating if needed) the control FIFO. Opened read-write so that writers
// coming and going never leave it at end-of-file.
int open_control(const std::string& path, bool* created, std::string* error) {
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

void run_control_line(vprinter::VirtualPrinter& printer, std::string_view line) {
  if (line.find_first_not_of(" \t\r") == std::string_view::npos) return;
  const std::optional<vprinter::ControlCommand> cmd = vprinter::parse_control_command(line);
  if (!cmd) {
    std::fprintf(stderr, "vprinter: unknown control command \"%.*s\"\n", static_cast<int>(line.size()),
                 line.data());
    return;
  }
  const std::string text = vprinter::apply_control_command(printer, *cmd);
  if (!text.empty()) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  vprinter::VirtualPrinterOptions options;
  std::string control_path;
  opos::cli::Parsed parsed;
  const int done = opos::cli::Parse(kProgram, std::vector<std::string>(argv + 1, argv + argc), &parsed,
                                    std::cout, std::cerr);
  if (done >= 0) return done;
  unsigned long value = 0;
  for (const auto& [name, arg] : parsed.options) {
    if (name == "link") {
      options.link_path = arg;
    } else if (name == "line-state") {
      options.line_state_path = arg;
    } else if (name == "capture") {
      options.capture_path = arg;
    } else if (name == "render") {
      if (arg.empty()) return usage_fault("--render needs a folder");
      options.render_dir = arg;
    } else if (name == "control") {
      control_path = arg;
    } else if (name == "bytes-per-second") {
      if (!parse_number(arg, 100000000, &value) || value == 0)
        return usage_fault("--bytes-per-second needs a number from 1");
      options.printer.bytes_per_second = static_cast<uint32_t>(value);
    } else if (name == "lines-per-second") {
      if (!parse_number(arg, 100000, &value) || value == 0)
        return usage_fault("--lines-per-second needs a number from 1");
      options.printer.lines_per_second = static_cast<uint32_t>(value);
    } else if (name == "drawer-auto-close") {
      if (!parse_number(arg, 86400000, &value))
        return usage_fault("--drawer-auto-close needs milliseconds (0 to 86400000)");
      options.printer.drawer_auto_close = std::chrono::milliseconds(value);
    } else if (name == "sensor-high-when-open") {
      options.printer.sensor_high_when_open = true;
    } else if (name == "drawer-pins") {
      if (!parse_pins(arg, &options.printer)) return usage_fault("--drawer-pins takes 2, 5 or 2,5");
    } else if (name == "asb-at-power-on") {
      if (!parse_number(arg, 255, &value)) return usage_fault("--asb-at-power-on needs a mask from 0 to 255");
      options.printer.asb_mask_at_power_on = static_cast<uint8_t>(value);
    }
  }
  if (!parsed.operands.empty()) return usage_fault("unexpected argument \"" + parsed.operands[0] + "\"");
  if (options.link_path.empty()) return usage_fault("--link PATH is required");
  if (options.printer.bytes_per_second != 0 && options.printer.lines_per_second != 0) {
    return usage_fault("give either --bytes-per-second or --lines-per-second, not both");
  }

  // Signals go to the signalfd only; blocked before any thread starts so that every
  // thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  if (signal_fd < 0) return fail(std::string("signalfd: ") + std::strerror(errno));

  vprinter::VirtualPrinter printer(options);
  std::string error;
  if (!printer.start(&error)) return fail(error);

  int control_fd = -1;
  bool control_created = false;
  if (!control_path.empty()) {
    control_fd = open_control(control_path, &control_created, &error);
    if (control_fd < 0) {
      printer.stop();
      return fail(error);
    }
  }

  std::printf("ready %s\n", printer.slave_path().c_str());
  std::fflush(stdout);

  std::string pending;
  bool overlong = false;
  char buf[512];
  for (;;) {
    pollfd fds[2] = {{signal_fd, POLLIN, 0}, {control_fd, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "vprinter: poll: %s\n", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(control_fd, buf, sizeof buf);
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
          run_control_line(printer, pending);
        }
        pending.clear();
        overlong = false;
      }
    }
  }

  printer.stop();
  if (control_fd >= 0) ::close(control_fd);
  if (control_created) ::unlink(control_path.c_str());
  ::close(signal_fd);
  const std::string render_error = printer.render_error();
  if (!render_error.empty()) return fail("receipt image not written: " + render_error);
  return 0;
}
