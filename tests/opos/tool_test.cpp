// The opos program as a user runs it: registry commands, registration, scripts
// through the Control Objects (the real serial library on the virtual printer,
// and the stand-in library for exact by-reference and event traffic), and the
// everyday print and drawer jobs.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <fstream>
#include <sstream>

#include "common/opos.h"
#include "opos/pos_printer.h"
#include "tests/control/control_test_support.h"

extern char** environ;

namespace opos::control::testing {
namespace {

struct ToolResult {
  int status = -1;
  std::string out, err;
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

class ToolTest : public ControlEnvironment {
 protected:
  // Runs opos with args, input on its standard input, env on top of this
  // process's environment (and, when unprivileged and root, as user nobody);
  // waits for it to end.
  ToolResult Opos(const std::vector<std::string>& args, const std::string& input = "",
                  const std::vector<std::string>& env = {}, bool unprivileged = false) {
    const std::string in = dir_ + "/stdin", out = dir_ + "/stdout", err = dir_ + "/stderr";
    WriteFile(in, input);
    std::vector<std::string> all{OPOS_TOOL};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = env;
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(e.data());
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view name(*e, std::strcspn(*e, "="));
      bool overridden = false;
      for (const std::string& o : env)
        overridden |= o.compare(0, name.size() + 1, std::string(name) + "=") == 0;
      if (!overridden) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    const bool drop = unprivileged && ::geteuid() == 0;
    ToolResult r;
    // Only system calls between fork and exec: the test process has threads.
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int i = ::open(in.c_str(), O_RDONLY), o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (i < 0 || o < 0 || e < 0 || ::dup2(i, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
      if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(126);
      ::execve(OPOS_TOOL, argv.data(), envp.data());
      ::_exit(127);
    }
    EXPECT_GT(pid, 0) << "cannot start " << OPOS_TOOL;
    if (pid <= 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
  }
  static constexpr uid_t kNobody = 65534;

  // Whether a child can give up root for user nobody (not needed when not root).
  static bool CanRunUnprivileged() {
    if (::geteuid() != 0) return true;
    const pid_t pid = ::fork();
    if (pid == 0)
      ::_exit(::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0 ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  ToolResult Run(DeviceClass c, const std::string& device, const std::string& script) {
    return Opos({"run", "--class", DeviceClassName(c), "--device", device}, script);
  }

  void AddFakeDevice(const std::string& name) {
    RegisterFake();
    SetSz(DeviceKey(DeviceClass::POSPrinter, name), "", kFakeProgId);
  }
};

// ---- run ----

TEST_F(ToolTest, RunPrintsEveryCallAndEventAsOneJsonLine) {
  AddFakeDevice("Fake");
  const ToolResult r = Run(DeviceClass::POSPrinter, "Fake",
                           "DirectIO 1 5 \"a\\\"b\\\\c\\x01\"   # event inside the call\n"
                           "DirectIO 2 0 \"\"\n"
                           "Answer 12\n"
                           "DirectIO 2 0 \"\"\n"
                           "DirectIO 3 -7 \"xyz\"\n"
                           "GetPropertyString 0x10\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> expected = {
      R"({"call":"Open","args":["Fake"],"result":0})",
      R"({"event":"DirectIO","EventNumber":7,"Data":5,"String":"a\"b\\c\u0001","device":"Fake"})",
      R"({"call":"DirectIO","args":[1,6,"a\"b\\c\u0001+"],"result":0,"ResultCode":0,"ResultCodeExtended":4711})",
      R"({"event":"Error","ResultCode":114,"ResultCodeExtended":203,"ErrorLocus":1,"ErrorResponse":11,"device":"Fake"})",
      R"({"call":"DirectIO","args":[2,11,""],"result":0,"ResultCode":0,"ResultCodeExtended":4711})",
      R"({"event":"Error","ResultCode":114,"ResultCodeExtended":203,"ErrorLocus":1,"ErrorResponse":12,"device":"Fake"})",
      R"({"call":"DirectIO","args":[2,12,""],"result":0,"ResultCode":0,"ResultCodeExtended":4711})",
      R"({"event":"StatusUpdate","Data":-7,"device":"Fake"})",
      R"({"event":"OutputComplete","OutputID":3,"device":"Fake"})",
      R"({"call":"DirectIO","args":[3,-7,"xyz"],"result":0,"ResultCode":0,"ResultCodeExtended":4711})",
      R"({"call":"GetPropertyString","args":[16],"result":"fake 16","ResultCode":0,"ResultCodeExtended":4711})",
  };
  EXPECT_EQ(r.Lines(), expected);
}

TEST_F(ToolTest, MemberTheServiceObjectLacksStopsTheScriptAtItsLine) {
  AddFakeDevice("Fake");
  // SetPropertyString is an OPOS member, but the stand-in does not have it.
  const ToolResult r =
      Run(DeviceClass::POSPrinter, "Fake", "GetPropertyNumber 6\nSetPropertyString 1 \"s\"\nClose\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("line 2: SetPropertyString"), std::string::npos) << r.err;
  EXPECT_EQ(r.Lines().size(), 2u) << r.out;  // Open and the first call; Close never ran
}

TEST_F(ToolTest, RunDrivesTheRealLibrary) {
  SetUpRealDevices();
  const ToolResult r = Run(DeviceClass::POSPrinter, "Receipt",
                           "ClaimDevice 1000\n"
                           "GetPropertyString 1000003\n"
                           "SetPropertyNumber 8005 1   # FlagWhenIdle: StatusUpdate Idle at once\n"
                           "Pump 500\n"
                           "SetPropertyNumber 3 1\n"
                           "PrintNormal 2 \"Hello \\x1b|bCworld\\n\"\n"
                           "ReleaseDevice\n"
                           "Close\n"
                           "ClaimDevice 1000\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  const std::vector<std::string> head = {
      R"({"call":"Open","args":["Receipt"],"result":0})",
      R"({"call":"ClaimDevice","args":[1000],"result":0,"ResultCode":0,"ResultCodeExtended":0})",
      R"({"call":"GetPropertyString","args":[1000003],"result":"KELVORA.RecPrinter.SO","ResultCode":0,"ResultCodeExtended":0})",
      R"({"call":"SetPropertyNumber","args":[8005,1],"result":null,"ResultCode":0,"ResultCodeExtended":0})",
      R"({"event":"StatusUpdate","Data":1001,"device":"Receipt"})",
      R"({"call":"SetPropertyNumber","args":[3,1],"result":null,"ResultCode":0,"ResultCodeExtended":0})",
  };
  ASSERT_GE(lines.size(), head.size() + 4) << r.out;
  for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i], head[i]) << "line " << i + 1;
  // Status reports after enabling may come at any point from here on.
  std::vector<std::string> calls;
  for (size_t i = head.size(); i < lines.size(); ++i) {
    if (lines[i].rfind("{\"call\"", 0) == 0) calls.push_back(lines[i]);
  }
  EXPECT_EQ(
      calls,
      (std::vector<std::string>{
          R"({"call":"PrintNormal","args":[2,"Hello \u001b|bCworld\u000a"],"result":0,"ResultCode":0,"ResultCodeExtended":0})",
          R"({"call":"ReleaseDevice","args":[],"result":0,"ResultCode":0,"ResultCodeExtended":0})",
          R"({"call":"Close","args":[],"result":0,"ResultCode":0,"ResultCodeExtended":0})",
          R"({"call":"ClaimDevice","args":[1000],"result":101,"ResultCode":101,"ResultCodeExtended":0})",
      }));
  EXPECT_TRUE(PrinterReceives("world\n"));
}

TEST_F(ToolTest, RunHoldsAPrinterAndItsDrawer) {
  SetUpRealDevices();
  const ToolResult r = Run(DeviceClass::POSPrinter, "Receipt",
                           "ClaimDevice 1000\n"
                           "Open CashDrawer Drawer\n"
                           "GetPropertyString 1000003\n"
                           "ClaimDevice 1000\n"
                           "SetPropertyNumber 3 1\n"
                           "OpenDrawer\n"
                           "Pump 2000\n"
                           "Select Receipt\n"
                           "GetPropertyString 1000003\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  auto find = [&](const std::string& line) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == line) return static_cast<int>(i);
    }
    return -1;
  };
  const int openDrawer = find(R"({"call":"Open","args":["Drawer"],"result":0})");
  const int drawerName = find(
      R"({"call":"GetPropertyString","args":[1000003],"result":"KELVORA.CashDrawer.SO","ResultCode":0,"ResultCodeExtended":0})");
  const int kick =
      find(R"({"call":"OpenDrawer","args":[],"result":0,"ResultCode":0,"ResultCodeExtended":0})");
  const int opened = find(R"({"event":"StatusUpdate","Data":1,"device":"Drawer"})");
  const int printerName = find(
      R"({"call":"GetPropertyString","args":[1000003],"result":"KELVORA.RecPrinter.SO","ResultCode":0,"ResultCodeExtended":0})");
  EXPECT_GT(openDrawer, 0) << r.out;
  EXPECT_GT(drawerName, openDrawer);
  EXPECT_GT(kick, drawerName);
  EXPECT_GT(opened, kick) << r.out;
  EXPECT_GT(printerName, opened);
  EXPECT_EQ(printer_->DrawerKicks(), 1u);
}

TEST_F(ToolTest, AClaimRefusedBecauseAnotherProcessHoldsThePortNamesIt) {
  SetUpRealDevices();
  ::setenv("OPOS_LOCK_DIR", (dir_ + "/locks").c_str(), 1);
  control::POSPrinter holder;
  ASSERT_EQ(holder.Open("Receipt"), OPOS_SUCCESS);
  ASSERT_EQ(holder.ClaimDevice(1000), OPOS_SUCCESS);
  const ToolResult r = Run(DeviceClass::CashDrawer, "Drawer", "ClaimDevice 300\n");
  holder.Close();
  ::unsetenv("OPOS_LOCK_DIR");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"({"call":"ClaimDevice","args":[300],"result":112,"ResultCode":112)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("line 1: ClaimDevice: 112: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": held by process " + std::to_string(::getpid()) + " ("), std::string::npos) << r.err;
}

// Every port or folder that cannot be used: the claim's result code, and on
// standard error the cause naming the path and the reason, never a hang. A
// trace file that cannot be opened costs only the trace.
TEST_F(ToolTest, EachUnusablePortOrFolderGivesItsResultAndCause) {
  SetUpRealDevices();
  const std::string slave = printer_->SlavePath();
  const std::string plain = dir_ + "/plain", folder = dir_ + "/folder", fifo = dir_ + "/fifo",
                    loop = dir_ + "/loop", readOnlyLocks = dir_ + "/ro-locks";
  WriteFile(plain, "x");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  ASSERT_EQ(::mkdir(readOnlyLocks.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);  // user nobody reads the registry
  // A USB printer key on socket 1-3 of a fake machine, where a device without a
  // printer driver sits; socket 1-4 is empty.
  void* usb = dlopen((std::string(OPOS_BUILD_DIR) + "/service/libusbso.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(usb, nullptr) << dlerror();
  auto registerUsb = reinterpret_cast<com::DllRegisterServerFn>(dlsym(usb, "DllRegisterServer"));
  ASSERT_NE(registerUsb, nullptr);
  ASSERT_EQ(registerUsb(), com::S_OK);
  const std::string sysfs = "OPOS_SYSFS_ROOT=" + dir_ + "/sys";
  std::filesystem::create_directories(dir_ + "/sys/bus/usb/devices/1-3/1-3:1.0");
  const std::string usbKey = DeviceKey(DeviceClass::POSPrinter, "UsbPrinter");
  SetSz(usbKey, "", "KELVORA.RecPrinter.SOU");
  SetSz(usbKey, "DeviceName", "QMT500");
  const std::string slash = slave + ": ";
  struct Case {
    const char* what;
    std::string port;
    int32_t result;
    std::string cause;
    std::vector<std::string> env = {};
    bool unprivileged = false;  // as user nobody when root
    mode_t slaveMode = 0620;
    const char* device = "Receipt";  // UsbPrinter: port is its socket
  } cases[] = {
      {"missing device", dir_ + "/missing", 112, dir_ + "/missing: No such file or directory"},
      {"regular file", plain, 112, plain + ": not a character device"},
      {"folder", folder, 112, folder + ": not a character device"},
      {"FIFO", fifo, 112, fifo + ": not a character device"},
      {"link loop", loop, 112, loop + ": Too many levels of symbolic links"},
      {"lock folder missing",
       slave,
       112,
       slash + "lock folder " + dir_ + "/no/locks: No such file or directory",
       {"OPOS_LOCK_DIR=" + dir_ + "/no/locks"}},
      {"trace file a folder",
       slave,
       0,
       "trace file " + folder + ": Is a directory",
       {"OPOS_TRACE=" + folder}},
      {"lock folder not writable",
       slave,
       112,
       slash + "lock folder " + readOnlyLocks + ": Permission denied",
       {"OPOS_LOCK_DIR=" + readOnlyLocks},
       true,
       0666},
      {"USB socket without printer",
       "usb:1-3",
       112,
       "the USB device in socket 1-3 has no printer driver bound (no usbmisc/lpN)",
       {sysfs},
       false,
       0620,
       "UsbPrinter"},
      {"empty USB socket",
       "usb:1-4",
       112,
       "no USB device is plugged into socket 1-4",
       {sysfs},
       false,
       0620,
       "UsbPrinter"},
      {"permission denied", slave, 112, slash + "cannot open: Permission denied", {}, true, 0000},
  };
  const bool canDrop = CanRunUnprivileged();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.unprivileged && !canDrop) continue;
    AddSerialDevice(DeviceClass::POSPrinter, "Printer", c.port);
    SetSz(usbKey, "SymbolicLink", c.port);
    ASSERT_EQ(::chmod(slave.c_str(), c.slaveMode), 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> env = c.env;
    env.push_back("OPOS_LOCK_DIR=" + dir_ + "/locks");  // after the case's own, which wins
    const ToolResult r = Opos({"run", "--class", "POSPrinter", "--device", c.device}, "ClaimDevice 300\n",
                              env, c.unprivileged);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(R"({"call":"ClaimDevice","args":[300],"result":)" + std::to_string(c.result) +
                         R"(,"ResultCode":)" + std::to_string(c.result) + ","),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    if (c.result != OPOS_SUCCESS) {
      EXPECT_NE(r.err.find("opos: line 1: ClaimDevice: " + std::to_string(c.result) + ": " + c.cause),
                std::string::npos)
          << r.err;
    }
  }
  ::chmod(slave.c_str(), 0620);
  if (!canDrop) GTEST_SKIP() << "cannot run as user nobody here; the permission cases did not run";
}

TEST_F(ToolTest, SyntaxErrorNamesItsLineAndNothingRuns) {
  SetUpRealDevices();
  struct Case {
    const char* script;
    const char* where;
  };
  const Case cases[] = {
      {"ClaimDevice 1000\nPump 10\nPrintNormal 2 \"unterminated\n", "line 3: "},
      {"ClaimDevice 1000\nOpen CashDrawer Drawer\nPrintNormal 2 \"x\"\n",
       "line 3: CashDrawer has no member PrintNormal"},
      {"# comment\n\nClaimDevice\n", "line 3: ClaimDevice takes 1 argument, 0 given"},
      {"PrintNormal \"2\" \"x\"\n", "line 1: argument 1 of PrintNormal must be an integer"},
      {"ClaimDevice 1000\nFrobnicate 1\n", "line 2: POSPrinter has no member Frobnicate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const ToolResult r = Run(DeviceClass::POSPrinter, "Receipt", c.script);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.where), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");  // not even the Open ran
  }
  EXPECT_EQ(printer_->Status().bytesReceived, 0u);
}

TEST_F(ToolTest, RunScriptFromAFileAndAnUnknownDevice) {
  const std::string script = dir_ + "/script.txt";
  WriteFile(script, "ClaimDevice 1000\n");
  const ToolResult r = Opos({"run", "--class", "CashDrawer", "--device", "Nowhere", script});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.Lines(),
      (std::vector<std::string>{
          R"({"call":"Open","args":["Nowhere"],"result":104})",
          R"({"call":"ClaimDevice","args":[1000],"result":101,"ResultCode":101,"ResultCodeExtended":0})",
      }));
  EXPECT_NE(r.err.find("Nowhere"), std::string::npos) << r.err;

  const ToolResult unreadable =
      Opos({"run", "--class", "POSPrinter", "--device", "P", dir_ + "/no-such-script"});
  EXPECT_EQ(unreadable.status, 1);
  EXPECT_NE(unreadable.err.find("no-such-script"), std::string::npos) << unreadable.err;
  EXPECT_EQ(Opos({"run", "--class", "Scanner", "--device", "P"}).status, 2);
}

// ---- print and drawer ----

TEST_F(ToolTest, EverydayJobs) {
  SetUpRealDevices();
  ToolResult r = Opos({"print", "--device", "Receipt", "Everyday\\n"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(PrinterReceives("Everyday\n"));
  r = Opos({"drawer", "--device", "Drawer"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(printer_->DrawerKicks(), 1u);

  r = Opos({"print", "--device", "Nowhere", "x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Nowhere"), std::string::npos);
  EXPECT_EQ(Opos({"print", "x"}).status, 2);
  EXPECT_EQ(Opos({"print", "--device", "Receipt", "bad \\q escape"}).status, 2);
  EXPECT_EQ(Opos({"drawer", "--device", "Drawer", "extra"}).status, 2);
}

// ---- reg ----

TEST_F(ToolTest, RegSetGetListDelete) {
  const std::string key = "HKLM\\SOFTWARE\\Test\\Device";
  EXPECT_EQ(Opos({"reg", "set", key, "@", "--sz", "KELVORA.RecPrinter.SO"}).status, 0);
  EXPECT_EQ(Opos({"reg", "set", key, "Baudrate", "--dword", "6"}).status, 0);
  EXPECT_EQ(Opos({"reg", "set", key, "Mask", "--dword", "0xFFFFFFFF"}).status, 0);
  EXPECT_EQ(Opos({"reg", "set", key, "Logo", "--binary", "01,ab,FF"}).status, 0);
  EXPECT_EQ(Opos({"reg", "set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Other", "x", "--sz", ""}).status, 0);

  EXPECT_EQ(Opos({"reg", "get", key, "@"}).out, "KELVORA.RecPrinter.SO\n");
  EXPECT_EQ(Opos({"reg", "get", key, "baudrate"}).out, "6\n");
  EXPECT_EQ(Opos({"reg", "get", key, "Mask"}).out, "4294967295\n");
  EXPECT_EQ(Opos({"reg", "get", key, "Logo"}).out, "01abff\n");
  EXPECT_EQ(Opos({"reg", "get", key}).out,
            "@\tREG_SZ\tKELVORA.RecPrinter.SO\nBaudrate\tREG_DWORD\t6\nMask\tREG_DWORD\t4294967295\n"
            "Logo\tREG_BINARY\t01abff\n");
  EXPECT_EQ(Opos({"reg", "list", "HKLM\\SOFTWARE\\Test"}).out, "Device\nOther\n");

  // Reads go through the store the Service Objects use.
  reg::Value v;
  ASSERT_EQ(store_->QueryValue(reg::Root::LocalMachine, "SOFTWARE\\Test\\Device", "Baudrate", &v), reg::kOk);
  EXPECT_EQ(v.type, reg::REG_DWORD);
  EXPECT_EQ(v.data, reg::DwordData(6));

  ToolResult r = Opos({"reg", "get", key, "Missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Missing"), std::string::npos);
  EXPECT_EQ(Opos({"reg", "get", "HKLM\\SOFTWARE\\Nope"}).status, 1);
  EXPECT_EQ(Opos({"reg", "delete", key, "Mask"}).status, 0);
  EXPECT_EQ(Opos({"reg", "get", key, "Mask"}).status, 1);
  EXPECT_EQ(Opos({"reg", "delete", key, "Mask"}).status, 1);
  EXPECT_EQ(Opos({"reg", "delete", "HKLM\\SOFTWARE\\Test"}).status, 0);
  EXPECT_EQ(Opos({"reg", "list", "HKLM\\SOFTWARE\\Test"}).status, 1);
  EXPECT_EQ(Opos({"reg", "delete", "HKLM\\"}).status, 2);
}

TEST_F(ToolTest, RegWritesAreWholeOrNothing) {
  const std::string key = "HKLM\\SOFTWARE\\Fresh\\Key";
  const struct {
    std::vector<std::string> args;
    const char* what;
  } refused[] = {
      {{"reg", "set", key, "bad\nname", "--sz", "x"}, "value name with a line break"},
      {{"reg", "set", "HKLM\\SOFTWARE\\Fresh\\\\Key", "v", "--sz", "x"}, "empty key segment"},
      {{"reg", "set", "HKLM\\SOFTWARE\\Fresh\\" + std::string(300, 'k'), "v", "--sz", "x"},
       "key name too long"},
      {{"reg", "set", "HKCU\\SOFTWARE\\Fresh", "v", "--sz", "x"}, "unknown root"},
      {{"reg", "set", key, "v", "--dword", "six"}, "not a number"},
      {{"reg", "set", key, "v", "--dword", "4294967296"}, "too big"},
      {{"reg", "set", key, "v", "--binary", "0g"}, "not hex"},
      {{"reg", "set", key, "v", "--binary", "012"}, "odd digits"},
      {{"reg", "set", key, "v", "--multi", "x"}, "unknown type"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    const ToolResult r = Opos(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(store_->KeyExists(reg::Root::LocalMachine, "SOFTWARE\\Fresh"), reg::kFileNotFound);

  // A value with a line break in its text is data, not a fault, and reads back whole.
  EXPECT_EQ(Opos({"reg", "set", key, "Text", "--sz", "two\nlines \"q\" \\ \xe9"}).status, 0);
  EXPECT_EQ(Opos({"reg", "get", key, "Text"}).out, "two\nlines \"q\" \\ \xe9\n");
  EXPECT_EQ(Opos({"reg", "get", key}).out, "Text\tREG_SZ\ttwo\\x0alines \"q\" \\ \xe9\n");
}

TEST_F(ToolTest, ReadingAMissingStoreNeitherCreatesNorSucceeds) {
  const std::string missing = dir_ + "/elsewhere/none.db";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"reg", "get", "HKLM\\SOFTWARE"},
                                               {"reg", "get", "HKLM\\SOFTWARE", "v"},
                                               {"reg", "list", "HKLM\\SOFTWARE"},
                                               {"reg", "export"},
                                               {"reg", "delete", "HKLM\\SOFTWARE\\x"}}) {
    std::vector<std::string> all{"--registry", missing};
    all.insert(all.end(), args.begin(), args.end());
    const ToolResult r = Opos(all);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(missing));
  }
}

TEST_F(ToolTest, ExportThenImportIntoAnEmptyStoreGivesTheSameTree) {
  const std::string key = "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter\\P1";
  ASSERT_EQ(Opos({"reg", "set", key, "@", "--sz", "KELVORA.RecPrinter.SO"}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Port", "--sz", "C:\\dev \"x\""}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Lines", "--sz", "a\r\nb"}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Baudrate", "--dword", "6"}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Negative", "--dword", "-1"}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Empty", "--binary", ""}).status, 0);
  ASSERT_EQ(Opos({"reg", "set", key, "Image", "--binary", std::string(200, 'a')}).status, 0);
  ASSERT_EQ(
      Opos({"reg", "set", "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter", "Receipt", "--sz", "P1"})
          .status,
      0);
  ASSERT_EQ(Opos({"reg", "set", "HKCR\\KELVORA.RecPrinter.SO\\CLSID", "@", "--sz",
                  "{00000000-0000-0000-0000-000000000001}"})
                .status,
            0);
  const ToolResult exported = Opos({"reg", "export"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::string file = dir_ + "/all.reg";
  WriteFile(file, exported.out);

  const std::string other = dir_ + "/other.db";
  ASSERT_EQ(Opos({"--registry", other, "reg", "import", file}).status, 0);
  const ToolResult again = Opos({"--registry", other, "reg", "export"});
  EXPECT_EQ(again.out, exported.out);

  // Value by value, types included.
  std::string error;
  auto copy = reg::Store::Open(other, &error);
  ASSERT_NE(copy, nullptr) << error;
  std::vector<reg::Value> a, b;
  const std::string path = key.substr(5);
  ASSERT_EQ(store_->ListValues(reg::Root::LocalMachine, path, &a), reg::kOk);
  ASSERT_EQ(copy->ListValues(reg::Root::LocalMachine, path, &b), reg::kOk);
  ASSERT_EQ(a.size(), 7u);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(a[i].name);
    EXPECT_EQ(a[i].name, b[i].name);
    EXPECT_EQ(a[i].type, b[i].type);
    EXPECT_EQ(a[i].data, b[i].data);
  }

  // Exporting one key gives that key and what lies below it only.
  const ToolResult one = Opos({"reg", "export", "HKCR\\KELVORA.RecPrinter.SO"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out.find("HKEY_LOCAL_MACHINE"), std::string::npos);
  EXPECT_NE(one.out.find("[HKEY_CLASSES_ROOT\\KELVORA.RecPrinter.SO\\CLSID]"), std::string::npos);
  EXPECT_EQ(Opos({"reg", "export", "HKLM\\SOFTWARE\\Nothing"}).status, 1);
}

TEST_F(ToolTest, ImportsFilesAsWindowsRegeditWritesThem) {
  for (const char* file : {"opos_device.reg", "opos_device_utf16.reg"}) {
    SCOPED_TRACE(file);
    const std::string store = dir_ + "/" + file + ".db";
    const ToolResult r = Opos({"--registry", store, "reg", "import",
                               std::string(OPOS_SOURCE_DIR) + "/tests/platform/data/" + file});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string printer = "HKLM\\SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
    EXPECT_EQ(Opos({"--registry", store, "reg", "get", printer, "ReceiptPrinter"}).out, "QMT500S\n");
    EXPECT_EQ(Opos({"--registry", store, "reg", "get", printer + "\\QMT500S", "@"}).out,
              "KELVORA.RecPrinter.SO\n");
    EXPECT_EQ(Opos({"--registry", store, "reg", "get", printer + "\\QMT500S", "Baudrate"}).out, "6\n");
    EXPECT_EQ(Opos({"--registry", store, "reg", "get", printer + "\\QMT500S", "Description"}).out,
              "KELVORA POS Printer OPOS Service Object, \"Serial\" C:\\OPOS\n");
    EXPECT_EQ(Opos({"--registry", store, "reg", "get", printer + "\\QMT500S", "Logo"}).out.substr(0, 8),
              "424d3e00");
  }
  // A faulty file is refused whole, naming its line.
  const std::string bad = dir_ + "/bad.reg";
  WriteFile(bad,
            "Windows Registry Editor Version "
            "5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Half]\n\"a\"=dword:1\n\"b\"=nonsense\n");
  const ToolResult r = Opos({"reg", "import", bad});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("line 5"), std::string::npos) << r.err;
  EXPECT_EQ(store_->KeyExists(reg::Root::LocalMachine, "SOFTWARE\\Half"), reg::kFileNotFound);
  EXPECT_EQ(Opos({"reg", "import", dir_ + "/missing.reg"}).status, 1);
}

// ---- regsvr ----

TEST_F(ToolTest, RegsvrRegistersIntoTheChosenStore) {
  const std::string other = dir_ + "/registered.db";
  ToolResult r = Opos({"--registry", other, "regsvr", SerialLibraryPath()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Opos({"--registry", other, "reg", "get", "HKCR\\KELVORA.CashDrawer.SO\\CLSID", "@"});
  EXPECT_EQ(r.status, 0);
  com::Guid clsid;
  std::string text = r.out;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  EXPECT_TRUE(com::Guid::Parse(text, &clsid)) << text;
  // Not in the default store of this test.
  EXPECT_EQ(store_->KeyExists(reg::Root::ClassesRoot, "KELVORA.CashDrawer.SO"), reg::kFileNotFound);

  r = Opos({"regsvr", dir_ + "/libmissing.so"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot load"), std::string::npos) << r.err;
  r = Opos({"regsvr", std::string(OPOS_BUILD_DIR) + "/platform/libopos-msgqueue.so"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("DllRegisterServer"), std::string::npos) << r.err;
  EXPECT_EQ(Opos({"regsvr"}).status, 2);

  // Unregistering removes both classes and their ProgIDs at once, and only once.
  r = Opos({"--registry", other, "regsvr", "-u", SerialLibraryPath()});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* key : {"HKCR\\KELVORA.CashDrawer.SO", "HKCR\\KELVORA.RecPrinter.SO", "HKCR\\CLSID"}) {
    r = Opos({"--registry", other, "reg", "list", key});
    EXPECT_TRUE(r.status == 1 || r.out.empty()) << key << ": " << r.out;
  }
  r = Opos({"--registry", other, "regsvr", "-u", SerialLibraryPath()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no class"), std::string::npos) << r.err;
  EXPECT_EQ(Opos({"--registry", dir_ + "/none.db", "regsvr", "-u", SerialLibraryPath()}).status, 1);
  EXPECT_FALSE(Exists(dir_ + "/none.db"));
}

TEST_F(ToolTest, CommandLineConventions) {
  const std::string other = dir_ + "/conventions.db";
  ASSERT_EQ(Opos({"--registry", other, "reg", "set", "HKLM\\SOFTWARE\\k", "v", "--sz", "x"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // part of standard output
  };
  const Case cases[] = {
      {{"--registry=" + other, "reg", "get", "HKLM\\SOFTWARE\\k", "v"}, 0, "x\n"},
      {{"-r", other, "reg", "get", "HKLM\\SOFTWARE\\k", "v"}, 0, "x\n"},
      {{"-r" + other, "reg", "get", "HKLM\\SOFTWARE\\k", "v"}, 0, "x\n"},
      {{"-h"}, 0, "Usage: opos"},
      {{"--help"}, 0, "Exit status:"},
      {{"--version"}, 0, "opos (opos) "},
      {{"--registry"}, 2, ""},
      {{"--registry="}, 2, ""},
      {{"--help=x"}, 2, ""},
      {{"--bogus", "reg", "export"}, 2, ""},
      {{}, 2, ""},
      {{"frobnicate"}, 2, ""},
      {{"print", "--help"}, 0, "Usage: opos print --device NAME TEXT"},
      {{"run", "--class=Scanner", "--device=P"}, 2, ""},
      {{"drawer", "--device"}, 2, ""},
  };
  for (const Case& c : cases) {
    const ToolResult r = Opos(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, c.status) << shown << ": " << r.err;
    EXPECT_NE(r.out.find(c.out), std::string::npos) << shown << ": " << r.out;
    if (c.status == 2) {
      EXPECT_NE(r.err.find("opos"), std::string::npos) << shown;
    }
  }
}

}  // namespace
}  // namespace opos::control::testing
