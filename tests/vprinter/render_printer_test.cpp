// Receipt images from a running virtual printer: the in-process calls, the render
// folder written as bytes arrive, and the program's --render option end to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <thread>

#include "tests/vprinter/pty_client.h"
#include "tests/vprinter/render_util.h"
#include "tools/vprinter/virtual_printer.h"

using namespace vprinter;
using namespace vprinter_test;
using namespace std::chrono_literals;

extern char** environ;

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Files appear from the printer's own thread or process: wait for them with a limit.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Starts vprinter with its standard output and error on *out; returns the pid.
pid_t SpawnVprinter(std::vector<std::string> args, int* out) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
  const std::string program = std::string(OPOS_BUILD_DIR) + "/tools/vprinter/vprinter";
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  ::close(fds[1]);
  *out = fds[0];
  return pid;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, 10000) == 1 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

int WaitExit(pid_t pid) {
  int status = 0;
  if (!Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(RenderPrinter, RenderFolderGetsEachReceiptAtItsCutAndTheRestAtStop) {
  TempDir dir;
  ASSERT_TRUE(dir.Ok());
  VirtualPrinterOptions opt;
  opt.linkPath = dir.File("printer");
  opt.renderDir = dir.File("images");  // made by start()
  VirtualPrinter printer(opt);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;
  PtyClient host(opt.linkPath);
  ASSERT_TRUE(host.Ok() && host.ConfigureLikeSerialPort());

  const Bytes before = Cat({Text("First receipt\n"), Hex("1B 6D"), Hex("1D 21 11"), Text("double")});
  ASSERT_TRUE(host.WriteAll(before));
  ASSERT_TRUE(Eventually([&] { return printer.ReceiptsWritten() == 1; }));
  const std::optional<Decoded> first = DecodePngFile(opt.renderDir + "/receipt-0001.png");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->width, ReceiptRenderer::kPaperWidth);
  EXPECT_TRUE(first->Dark(32, 8)) << "the F of the first line";

  // A power cycle forgets the double size given before it.
  ASSERT_TRUE(printer.WaitForBytes(before.size(), 5s));
  printer.SetPower(false);
  printer.SetPower(true);
  const Bytes after = Text("after power");
  ASSERT_TRUE(host.WriteAll(after));
  ASSERT_TRUE(printer.WaitForBytes(before.size() + after.size(), 5s));
  EXPECT_FALSE(Exists(opt.renderDir + "/receipt-0002.png")) << "no cut yet";

  printer.Stop();
  EXPECT_EQ(printer.ReceiptsWritten(), 2u);
  EXPECT_EQ(printer.RenderError(), "");
  const std::optional<Decoded> second = DecodePngFile(opt.renderDir + "/receipt-0002.png");
  ASSERT_TRUE(second);
  int top = -1, bottom = -1;
  for (int y = 0; y < second->height; ++y) {
    for (int x = 0; x < second->width; ++x) {
      if (second->Dark(x, y)) {
        if (top < 0) top = y;
        bottom = y;
      }
    }
  }
  EXPECT_EQ(top, 8);
  EXPECT_LT(bottom - top, 30) << "\"double\" was never printed and \"after power\" is normal size";
}

TEST(RenderPrinter, InProcessCallsRenderTheRecordedCommands) {
  TempDir dir;
  VirtualPrinterOptions opt;
  opt.linkPath = dir.File("printer");
  VirtualPrinter printer(opt);
  ASSERT_TRUE(printer.Start());
  PtyClient host(opt.linkPath);
  ASSERT_TRUE(host.Ok() && host.ConfigureLikeSerialPort());
  const Bytes bytes = Cat({Text("one\n"), Hex("1D 56 00"), Text("two\n"), Hex("1B 69"), Text("three\n")});
  ASSERT_TRUE(host.WriteAll(bytes));
  ASSERT_TRUE(printer.WaitForBytes(bytes.size(), 5s));

  const std::vector<ReceiptImage> images = printer.RenderReceipts();
  ASSERT_EQ(images.size(), 3u);
  EXPECT_EQ(images[0].dots, Render(bytes)[0].dots);
  EXPECT_FALSE(images[2].cut);
  EXPECT_EQ(printer.RenderReceipts(2).size(), 2u);

  size_t count = 0;
  std::string error;
  ASSERT_TRUE(printer.WriteReceipts(dir.File("out"), &count, &error)) << error;
  EXPECT_EQ(count, 3u);
  for (const char* name : {"receipt-0001.png", "receipt-0002.png", "receipt-0003.png"}) {
    EXPECT_TRUE(DecodePngFile(dir.File("out/") + name)) << name;
  }
  EXPECT_FALSE(Exists(dir.File("out/receipt-0004.png")));

  std::ofstream(dir.File("plain")) << "x";
  EXPECT_FALSE(printer.WriteReceipts(dir.File("plain"), &count, &error));
  EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
  EXPECT_EQ(printer.ReceiptsWritten(), 0u) << "no render folder was given";
}

TEST(RenderPrinter, ProgramRenderOptionEndToEnd) {
  TempDir dir;
  const std::string link = dir.File("printer"), images = dir.File("images");
  int out = -1;
  const pid_t pid = SpawnVprinter({"--link", link, "--render", images}, &out);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(ReadLine(out).rfind("ready ", 0), 0u);
  PtyClient host(link);
  ASSERT_TRUE(host.Ok() && host.ConfigureLikeSerialPort());
  ASSERT_TRUE(
      host.WriteAll(Cat({Hex("1B 61 01"), Text("CENTRED\n"), Hex("1D 56 42 10"), Text("left over")})));

  const std::string first = images + "/receipt-0001.png";
  ASSERT_TRUE(Eventually([&] { return Exists(first); }));
  const std::optional<Decoded> img = DecodePngFile(first);
  ASSERT_TRUE(img);
  int x0 = img->width, x1 = -1;
  for (int y = 8; y < 32; ++y) {
    for (int x = 0; x < img->width; ++x) {
      if (img->Dark(x, y)) {
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
      }
    }
  }
  EXPECT_NEAR((x0 + x1) / 2, 288, 3) << "centred on the paper";

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid), 0);
  ::close(out);
  EXPECT_TRUE(DecodePngFile(images + "/receipt-0002.png")) << "the unfinished receipt is written at exit";
  EXPECT_FALSE(Exists(images + "/receipt-0003.png"));

  // A render path that is no folder stops the program before its port is up.
  const pid_t refused = SpawnVprinter({"--link", dir.File("other"), "--render", first}, &out);
  ASSERT_GT(refused, 0);
  EXPECT_NE(ReadLine(out).find("is not a folder"), std::string::npos);
  EXPECT_EQ(WaitExit(refused), 1);
  EXPECT_FALSE(Exists(dir.File("other")));
  ::close(out);
}
