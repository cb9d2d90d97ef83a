// devsetup end to end: devices added from the shipped model files open, claim
// and print through the Control Objects and the serial Service Object library,
// against the virtual printer on COM1.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/dispatch.h"
#include "platform/port_lock.h"
#include "tests/setup/setup_test_util.h"
#include "tools/vprinter/virtual_printer.h"

namespace opos::setup {
namespace {

using testing::RunDevsetup;
using testing::RunResult;
using testing::TempDir;
using testing::TempStore;

class DevsetupEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library registers itself in the store $OPOS_REGISTRY names.
    ::setenv("OPOS_REGISTRY", store.Path().c_str(), 1);
    const std::string lib = std::string(OPOS_BUILD_DIR) + "/service/libserialso.so";
    void* handle = ::dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<com::DllRegisterServerFn>(::dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), com::S_OK);
    ::unsetenv("OPOS_REGISTRY");

    // COM1 is the virtual printer: ports resolve through links in $OPOS_PORT_DIR.
    ::setenv("OPOS_PORT_DIR", ports.Path().c_str(), 1);
    vprinter::VirtualPrinterOptions options;
    options.linkPath = ports.File("com1");
    printer = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
  }
  void TearDown() override {
    printer.reset();
    ::unsetenv("OPOS_PORT_DIR");
  }

  RunResult Run(std::vector<std::string> args, int asUser = -1) {
    args.insert(args.begin(), {"--registry", store.Path()});
    return RunDevsetup(args, asUser);
  }
  bool Received(const std::string& text) {
    return printer->WaitUntil(
        [&](const vprinter::PrinterModel& m) {
          const auto& c = m.Capture();
          return std::string(c.begin(), c.end()).find(text) != std::string::npos;
        },
        std::chrono::milliseconds(5000));
  }

  TempStore store;
  TempDir ports;
  std::unique_ptr<vprinter::VirtualPrinter> printer;
};

TEST_F(DevsetupEndToEnd, AddedPrinterPrintsTheTestPage) {
  ASSERT_EQ(Run({"add", "QMT500S"}).status, 0);
  ASSERT_EQ(Run({"ldn", "add", "POSPrinter", "QMT500S", "Receipt"}).status, 0);
  RunResult r = Run({"test", "POSPrinter", "QMT500S"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "test page printed\n");
  EXPECT_TRUE(Received("Interactive Hcheck!!"));
  EXPECT_TRUE(Received("Device Name : QMT500"));
}

TEST_F(DevsetupEndToEnd, AddedDrawerOpens) {
  ASSERT_EQ(Run({"add", "Z9S"}).status, 0);
  ASSERT_EQ(Run({"add", "StandardCashS"}).status, 0);
  const uint32_t kicksBefore = printer->DrawerKicks();
  RunResult r = Run({"test", "CashDrawer", "StandardCashS"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "drawer opened\n");
  EXPECT_GT(printer->DrawerKicks(), kicksBefore);
}

TEST_F(DevsetupEndToEnd, DeviceOnAPortWithoutPrinterReportsTheResultCode) {
  ASSERT_EQ(Run({"add", "Z10S"}).status, 0);
  ASSERT_EQ(Run({"set", "POSPrinter", "Z10S", "Port", "COM7"}).status, 0);
  ::setenv("OPOS_PORT_DIR", "/nonexistent-port-dir", 1);
  RunResult r = Run({"test", "POSPrinter", "Z10S"});
  EXPECT_EQ(r.status, 1);
  // The claim cannot open the port within its time: OPOS_E_TIMEOUT.
  EXPECT_EQ(r.err.rfind("ERR: ResultCode : 112\n", 0), 0u) << r.err;
}

TEST_F(DevsetupEndToEnd, DeviceOnAnAbsolutePathPrintsAndEachFailureShowsItsCause) {
  ASSERT_EQ(Run({"add", "Z10S"}).status, 0);
  ASSERT_EQ(Run({"set", "POSPrinter", "Z10S", "Port", printer->SlavePath()}).status, 0);
  RunResult r = Run({"test", "POSPrinter", "Z10S"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Received("Interactive Hcheck!!"));

  const std::string plain = ports.File("plain");
  std::ofstream(plain) << "x";
  // This process holds the printer's port, as another application would.
  const std::string slave = printer->SlavePath();
  ::setenv("OPOS_LOCK_DIR", ports.File("locks").c_str(), 1);
  struct stat device {};
  ASSERT_EQ(::stat(slave.c_str(), &device), 0);
  platform::PortLock holder;
  ASSERT_TRUE(holder.TryAcquire(device.st_rdev));
  std::string self;
  std::ifstream("/proc/self/comm") >> self;
  struct Case {
    std::string port;
    std::string cause;
    bool unprivileged = false;  // as user nobody when root; the port closed to every user
  } cases[] = {
      {ports.File("missing"), ports.File("missing") + ": No such file or directory"},
      {plain, plain + ": not a character device"},
      {"/dev/null", "/dev/null: not a terminal"},
      {slave, slave + ": held by process " + std::to_string(::getpid()) + " (" + self + ")"},
      {slave, slave + ": cannot open: Permission denied", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    ASSERT_EQ(Run({"set", "POSPrinter", "Z10S", "Port", c.port}).status, 0);
    ASSERT_EQ(::chmod(slave.c_str(), c.unprivileged ? 0 : 0620), 0);
    r = Run({"test", "POSPrinter", "Z10S"}, c.unprivileged && ::geteuid() == 0 ? 65534 : -1);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("ERR: ResultCode : 112\ncause: " + c.cause + "\n", 0), 0u) << r.err;
  }
  ::chmod(slave.c_str(), 0620);
  ::unsetenv("OPOS_LOCK_DIR");
}

}  // namespace
}  // namespace opos::setup
