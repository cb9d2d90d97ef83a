// Faults × phases, end to end: the serial library through the Control Objects
// against the virtual printer. Each case strikes one fault at one point of the
// printer's life, heals it, and checks the result codes and events the
// application saw, then that every job accepted reached the printer exactly
// once (more only when an Error answered with retry re-sent it) and that the
// printer works again afterwards.
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>

#include "opos/cash_drawer.h"
#include "platform/port_lock.h"
#include "tests/fault_matrix/drawer_env.h"

extern char** environ;

namespace opos::receipt {
namespace {

using namespace std::chrono_literals;

enum class Fault {
  CoverOpen,
  PaperEnd,
  Offline,
  PowerOff,
  Vanished,
  Restarted,
  PortHeld,
  StoreLocked,
  DrawerByHand,
  StatusGarbage
};
enum class Phase { Idle, Claim, SyncWrite, AsyncQueue, Transaction, ErrorPending, Release };

const char* Name(Fault f) {
  static const char* const names[] = {"CoverOpen",    "PaperEnd",     "Offline",  "PowerOff",
                                      "Vanished",     "Restarted",    "PortHeld", "StoreLocked",
                                      "DrawerByHand", "StatusGarbage"};
  return names[static_cast<int>(f)];
}
const char* Name(Phase p) {
  static const char* const names[] = {"Idle",        "Claim",        "SyncWrite", "AsyncQueue",
                                      "Transaction", "ErrorPending", "Release"};
  return names[static_cast<int>(p)];
}

// What the application sees.
struct Expect {
  int32_t result = OPOS_SUCCESS;  // the phase's call (claim, print, transaction end, release)
  int32_t extended = 0;           // its ResultCodeExtended when result is OPOS_E_EXTENDED
  std::vector<int32_t> errors;    // ResultCodeExtended of the Error events, repeats folded
  std::vector<int32_t> statuses;  // StatusUpdate values while the fault stands, in order (checked when set)
  bool checkStatuses = false;
};

struct Case {
  Fault fault;
  Phase phase;
  Expect expect;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(Name(info.param.fault)) + "_x_" + Name(info.param.phase);
}

class FaultMatrix : public DrawerEnvironment, public ::testing::WithParamInterface<Case> {
 protected:
  void TearDown() override {
    EndHolder();
    if (lockDb_) sqlite3_close(lockDb_);
    drawer_.reset();
    ReceiptEnvironment::TearDown();
  }

  // ---- faults -------------------------------------------------------------
  void Strike(Fault f) {
    switch (f) {
      case Fault::CoverOpen:
        vprinter_->SetCoverOpen(true);
        break;
      case Fault::PaperEnd:
        vprinter_->SetPaperEnd(true);
        break;
      case Fault::Offline:
        vprinter_->SetOnline(false);
        break;
      case Fault::PowerOff:
        vprinter_->SetPower(false);
        break;
      case Fault::Vanished:
        vprinter_->Stop(), Keep();
        break;
      case Fault::Restarted:
        vprinter_->Stop(), Keep(), StartAgain();
        break;
      case Fault::PortHeld:
        HoldPort();
        break;
      case Fault::StoreLocked:
        LockStore();
        break;
      case Fault::DrawerByHand:
        vprinter_->OpenDrawer();
        break;
      case Fault::StatusGarbage: {
        // Real-time status requests: their one-byte replies land among the
        // status reports the library reads.
        int32_t data = 0;
        std::string raw = "\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04";
        EXPECT_EQ(printer.DirectIO(0, data, raw), OPOS_SUCCESS);
        break;
      }
    }
  }
  void Heal(Fault f) {
    switch (f) {
      case Fault::CoverOpen:
        vprinter_->SetCoverOpen(false);
        break;
      case Fault::PaperEnd:
        vprinter_->SetPaperEnd(false);
        break;
      case Fault::Offline:
        vprinter_->SetOnline(true);
        break;
      case Fault::PowerOff:
        vprinter_->SetPower(true);
        break;
      case Fault::Vanished:
        StartAgain();
        break;
      case Fault::PortHeld:
        EndHolder();
        break;
      case Fault::StoreLocked:
        sqlite3_close(lockDb_);
        lockDb_ = nullptr;
        break;
      case Fault::DrawerByHand:
        vprinter_->CloseDrawer();
        break;
      default:
        break;
    }
  }
  // Waits until the library has seen the fault (or its end), where it shows.
  void AwaitSeen(Fault f, bool present) {
    if (f == Fault::CoverOpen) {
      ASSERT_TRUE(DeliverUntil([&] { return printer.CoverOpen() == present; }));
    }
    if (f == Fault::PaperEnd) {
      ASSERT_TRUE(DeliverUntil([&] { return printer.RecEmpty() == present; }));
    }
    if (f == Fault::PowerOff) {
      const int32_t state = present ? OPOS_PS_OFF_OFFLINE : OPOS_PS_ONLINE;
      ASSERT_TRUE(DeliverUntil([&] { return printer.PowerState() == state; }));
    }
  }
  bool Lost(Fault f) const { return f == Fault::Vanished || f == Fault::Restarted; }
  // Takes with it what sat in the printer's input buffer, written or not.
  bool DropsBuffer(Fault f) const { return Lost(f) || f == Fault::PowerOff; }

  // The printer on the same link again (a new pseudo-terminal).
  void StartAgain() {
    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    vprinter_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    ASSERT_TRUE(vprinter_->Start(&error)) << error;
  }
  void Keep() { before_ += Printed(); }
  std::string AllPrinted() const { return before_ + Printed(); }

  // Another process holds the port (flock(1) on its lock file); its shell
  // signs the lock file as a holder does.
  void HoldPort() {
    struct stat st {};
    ASSERT_EQ(::stat((dir_ + "/printer").c_str(), &st), 0);
    const std::string file = platform::PortLock::Directory() + "/" + platform::PortLock::FileName(st.st_rdev);
    int toHolder[2], fromHolder[2];
    ASSERT_EQ(::pipe(toHolder), 0);
    ASSERT_EQ(::pipe(fromHolder), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHolder[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromHolder[1], 1);
    posix_spawn_file_actions_addclose(&actions, toHolder[1]);
    posix_spawn_file_actions_addclose(&actions, fromHolder[0]);
    std::string cmd = "echo $$ >'" + file + "'; echo $$; cat >/dev/null";
    char* argv[] = {const_cast<char*>("flock"),
                    const_cast<char*>("-x"),
                    const_cast<char*>(file.c_str()),
                    const_cast<char*>("-c"),
                    cmd.data(),
                    nullptr};
    ASSERT_EQ(posix_spawnp(&holder_, "flock", &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toHolder[0]);
    ::close(fromHolder[1]);
    holderIn_ = toHolder[1];
    char buf[16] = {};
    ASSERT_GT(::read(fromHolder[0], buf, sizeof buf - 1), 0);  // the lock is taken
    ::close(fromHolder[0]);
    holderShell_ = std::atol(buf);
  }
  void EndHolder() {
    if (holder_ <= 0) return;
    ::close(holderIn_);
    int status = 0;
    ::waitpid(holder_, &status, 0);
    holder_ = 0;
  }
  // Another writer holds the registry store in an exclusive transaction.
  void LockStore() {
    ASSERT_EQ(sqlite3_open((dir_ + "/registry.db").c_str(), &lockDb_), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lockDb_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  }

  // The drawer on the printer's port, opened, claimed and enabled.
  void OpenDrawer() {
    AddDrawerKey();
    drawer_ = std::make_unique<control::CashDrawer>();
    drawer_->OnStatusUpdate([this](int32_t d) { events.push_back({"drawer", d}); });
    ASSERT_EQ(drawer_->Open("Drawer"), OPOS_SUCCESS);
    ASSERT_EQ(drawer_->ClaimDevice(1000), OPOS_SUCCESS);
    drawer_->SetDeviceEnabled(true);
    ASSERT_EQ(drawer_->ResultCode(), OPOS_SUCCESS);
    ASSERT_TRUE(DeliverUntil(Saw("drawer", CASH_SUE_DRAWERCLOSED)));
  }

  // ---- jobs ---------------------------------------------------------------
  std::string Job(int n) const {
    return std::string(Name(GetParam().fault)) + "-" + Name(GetParam().phase) + "-" + std::to_string(n) +
           "\n";
  }
  int32_t Print(int n) {
    jobs_.push_back(Job(n));
    return printer.PrintNormal(PTR_S_RECEIPT, Job(n));
  }
  static size_t Occurrences(const std::string& hay, const std::string& needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
  }
  std::vector<int32_t> FoldedErrors() const {
    std::vector<int32_t> out;
    for (int32_t e : Values("error")) {
      if (out.empty() || out.back() != e) out.push_back(e);
    }
    return out;
  }
  // Error handler: the fault heals (as a person would mend it) before the answer.
  void HealOnError(Fault f, int32_t answer) {
    onError = [this, f, answer](int32_t& response) {
      if (!Lost(f)) Heal(f);
      WaitInsideHandler(f);
      response = answer;
      ++answers_;
    };
  }
  // In an Error handler nothing pumps: watch the property the monitor sets.
  void WaitInsideHandler(Fault f) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline &&
           ((f == Fault::CoverOpen && printer.CoverOpen()) || (f == Fault::PaperEnd && printer.RecEmpty()) ||
            (f == Fault::PowerOff && printer.PowerState() != OPOS_PS_ONLINE))) {
      std::this_thread::sleep_for(10ms);
    }
  }

  // After a lost printer: release, claim the new one, enable.
  void Reclaim() {
    (void)printer.ReleaseDevice();
    ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
    Enable();
  }
  // Ends every case: the printer prints again, and the ledger adds up.
  void FinishAndAccount(const std::set<std::string>& accepted, const std::set<std::string>& retried) {
    printer.SetAsyncMode(false);
    if (printer.State() == OPOS_S_CLOSED || printer.ResultCode() == OPOS_E_NOTCLAIMED) Reclaim();
    const std::string last = "last-" + Job(0);
    int32_t rc = printer.PrintNormal(PTR_S_RECEIPT, last);
    if (rc != OPOS_SUCCESS && Lost(GetParam().fault)) {
      Reclaim();
      rc = printer.PrintNormal(PTR_S_RECEIPT, last);
    }
    ASSERT_EQ(rc, OPOS_SUCCESS) << printer.ResultCodeExtended();
    ASSERT_TRUE(vprinter_->WaitUntil(
        [&](const vprinter::PrinterModel& m) {
          const auto& c = m.Capture();
          return Occurrences(std::string(c.begin(), c.end()), last) == 1;
        },
        5s));
    const std::string all = AllPrinted();
    for (const std::string& job : jobs_) {
      const size_t n = Occurrences(all, job);
      if (accepted.count(job)) {
        EXPECT_GE(n, 1u) << "lost: " << job;
        if (!retried.count(job)) {
          EXPECT_LE(n, 1u) << "printed twice: " << job;
        }
      } else if (!either.count(job)) {
        EXPECT_EQ(n, 0u) << "refused but printed: " << job;
      } else {
        EXPECT_LE(n, 1u) << "printed twice: " << job;
      }
    }
  }

  std::unique_ptr<control::CashDrawer> drawer_;
  std::vector<std::string> jobs_;
  std::set<std::string> either;  // jobs that may or may not have reached the printer
  std::string before_;           // what earlier printers (before a restart) received
  pid_t holder_ = 0;
  long holderShell_ = 0;  // the process that signed the lock file
  int holderIn_ = -1;
  sqlite3* lockDb_ = nullptr;
  int answers_ = 0;
};

TEST_P(FaultMatrix, Case) {
  const Case& c = GetParam();
  const Fault f = c.fault;
  // The printer's power shows on the line (CTS), as on a real cable.
  powerOnTheLine = f == Fault::PowerOff;
  OpenPrinter();
  // A drawer shares the port where the fault concerns it too.
  if (f == Fault::DrawerByHand || (f == Fault::PowerOff && c.phase == Phase::Idle)) OpenDrawer();
  printer.SetPowerNotify(OPOS_PN_ENABLED);
  Enable();
  std::set<std::string> accepted, retried;
  either.clear();
  int32_t result = OPOS_SUCCESS, extended = 0;
  int32_t racedError = 0;  // Release: the Error a fault racing the job's write may raise
  size_t statusMark = 0;
  constexpr int32_t kCoverCode = OPOS_EPTR_COVER_OPEN, kPaperCode = OPOS_EPTR_REC_EMPTY, kFailedCode = 100003;

  switch (c.phase) {
    case Phase::Idle: {
      statusMark = events.size();
      Strike(f);
      AwaitSeen(f, true);
      if (f == Fault::DrawerByHand) {
        ASSERT_TRUE(DeliverUntil(Saw("drawer", CASH_SUE_DRAWEROPEN)));
      }
      if (Lost(f)) {
        ASSERT_TRUE(DeliverUntil(Saw("status", OPOS_SUE_POWER_OFF_OFFLINE)));
      }
      if (c.expect.checkStatuses) {
        std::vector<int32_t> seen;
        for (size_t i = statusMark; i < events.size(); ++i) seen.push_back(events[i].value);
        EXPECT_EQ(seen, c.expect.statuses);
      }
      Heal(f);
      AwaitSeen(f, false);
      if (Lost(f)) Reclaim();
      if (f == Fault::PowerOff) {
        // The drawer came through too: it opens and says so.
        ASSERT_EQ(drawer_->OpenDrawer(), OPOS_SUCCESS);
        ASSERT_TRUE(DeliverUntil(Saw("drawer", CASH_SUE_DRAWEROPEN)));
      }
      break;
    }
    case Phase::Claim: {
      ASSERT_EQ(printer.ReleaseDevice(), OPOS_SUCCESS);
      Strike(f);
      result = printer.ClaimDevice(1000);
      extended = printer.ResultCodeExtended();
      if (f == Fault::PortHeld) {
        EXPECT_NE(printer.LastErrorDetail().find("held by process " + std::to_string(holderShell_)),
                  std::string::npos)
            << printer.LastErrorDetail();
      }
      if (result == OPOS_SUCCESS) {
        Enable();
        AwaitSeen(f, true);  // the claimed printer reports the fault
      }
      Heal(f);
      if (result != OPOS_SUCCESS) {
        ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
        Enable();
      }
      AwaitSeen(f, false);
      break;
    }
    case Phase::SyncWrite: {
      Strike(f);
      AwaitSeen(f, true);
      result = Print(1);
      extended = printer.ResultCodeExtended();
      if (result == OPOS_SUCCESS && !Lost(f)) accepted.insert(Job(1));
      Heal(f);
      AwaitSeen(f, false);
      break;
    }
    case Phase::AsyncQueue: {
      printer.SetAsyncMode(true);
      HealOnError(f, Lost(f) ? OPOS_ER_CLEAR : OPOS_ER_RETRY);
      // The fault strikes as the first job completes, with two still queued.
      bool struck = false;
      onComplete = [&](int32_t) {
        if (struck) return;
        // Power takes the printer's buffer with it: only once the first job
        // is on paper does the cut fall between jobs.
        if (f == Fault::PowerOff) {
          EXPECT_TRUE(vprinter_->WaitUntil(
              [&](const vprinter::PrinterModel& m) {
                const auto& paper = m.Capture();
                return Occurrences(std::string(paper.begin(), paper.end()), Job(1)) == 1;
              },
              5s));
        }
        Strike(f), struck = true;
      };
      // What had completed when the first Error came was handed to the
      // printer before the cut; unless it was on paper, the cut took it.
      std::vector<int32_t> completedBeforeCut;
      if (f == Fault::PowerOff) {
        onError = [&, heal = onError](int32_t& response) {
          if (answers_ == 0) completedBeforeCut = Values("complete");
          heal(response);
        };
      }
      const int32_t base = printer.OutputID();
      for (int n = 1; n <= 3; ++n) ASSERT_EQ(Print(n), OPOS_SUCCESS);
      ASSERT_TRUE(DeliverUntil([&] {
        return Count("complete", base + 3) == 1 ||
               (Lost(f) && answers_ > 0 && printer.State() == OPOS_S_IDLE);
      }));
      onComplete = nullptr;
      for (int n = 1; n <= 3; ++n) {
        const bool beforeCut =
            n > 1 && std::count(completedBeforeCut.begin(), completedBeforeCut.end(), base + n);
        if (Count("complete", base + n) == 1) (beforeCut ? either : accepted).insert(Job(n));
        // A write the lost device failed may still have handed it every byte.
        if (Count("complete", base + n) == 0 && Lost(f)) either.insert(Job(n));
        EXPECT_LE(Count("complete", base + n), 1u);
        if (!Lost(f) && !Values("error").empty()) retried.insert(Job(n));
      }
      Heal(f);
      AwaitSeen(f, false);
      break;
    }
    case Phase::Transaction: {
      ASSERT_EQ(printer.TransactionPrint(PTR_S_RECEIPT, PTR_TP_TRANSACTION), OPOS_SUCCESS);
      ASSERT_EQ(Print(1), OPOS_SUCCESS);
      ASSERT_EQ(Print(2), OPOS_SUCCESS);
      Strike(f);
      AwaitSeen(f, true);
      result = printer.TransactionPrint(PTR_S_RECEIPT, PTR_TP_NORMAL);
      extended = printer.ResultCodeExtended();
      if (result == OPOS_SUCCESS && !Lost(f)) accepted.insert({Job(1), Job(2)});
      Heal(f);
      AwaitSeen(f, false);
      break;
    }
    case Phase::ErrorPending: {
      // A paper end (a cover, for the cover itself) raises the Error; the
      // fault strikes while the application holds it.
      const Fault first = f == Fault::CoverOpen ? Fault::PaperEnd : Fault::CoverOpen;
      printer.SetAsyncMode(true);
      Strike(first);
      AwaitSeen(first, true);
      int errorsSeen = 0;
      onError = [&](int32_t& response) {
        if (++errorsSeen == 1) {
          Strike(f);
          Heal(first);
          if (!Lost(f)) WaitInsideHandler(first);
          response = OPOS_ER_RETRY;
        } else {
          Heal(f);
          WaitInsideHandler(f);
          response = Lost(f) ? OPOS_ER_CLEAR : OPOS_ER_RETRY;
        }
        ++answers_;
      };
      ASSERT_EQ(Print(1), OPOS_SUCCESS);
      const int32_t id = printer.OutputID();
      ASSERT_TRUE(DeliverUntil([&] {
        return Count("complete", id) == 1 || (Lost(f) && answers_ > 1 && printer.State() == OPOS_S_IDLE);
      }));
      if (Count("complete", id) == 1) accepted.insert(Job(1));
      retried.insert(Job(1));
      break;
    }
    case Phase::Release: {
      printer.SetAsyncMode(true);
      onError = [](int32_t& response) { response = OPOS_ER_CLEAR; };
      ASSERT_EQ(Print(1), OPOS_SUCCESS);
      const int32_t id = printer.OutputID();
      Strike(f);
      const auto start = std::chrono::steady_clock::now();
      result = printer.ReleaseDevice();
      EXPECT_LT(std::chrono::steady_clock::now() - start, 12s);
      extended = printer.ResultCodeExtended();
      (void)DeliverUntil([] { return false; }, 50);  // whatever was posted before the release
      // Completed before the release took it away, or dropped with the queue.
      // A printer that vanishes or loses power takes with it what sat in its
      // input buffer.
      if (Count("complete", id) == 1 && !DropsBuffer(f)) accepted.insert(Job(1));
      // The fault races the job's write: written before it was seen, or
      // refused with an Error that the release's clear answers.
      if (DropsBuffer(f) || !FoldedErrors().empty()) either.insert(Job(1));
      racedError = FoldedErrors().empty() ? 0 : FoldedErrors().front();
      Heal(f);
      ASSERT_EQ(printer.ClaimDevice(1000), OPOS_SUCCESS);
      Enable();
      AwaitSeen(f, false);
      break;
    }
  }
  EXPECT_EQ(result, c.expect.result);
  if (c.expect.result == OPOS_E_EXTENDED) {
    EXPECT_EQ(extended, c.expect.extended);
  }
  if (racedError != 0) {
    EXPECT_EQ(FoldedErrors(), std::vector<int32_t>{racedError});
    EXPECT_EQ(racedError, f == Fault::CoverOpen  ? kCoverCode
                          : f == Fault::PaperEnd ? kPaperCode
                                                 : kFailedCode);
  } else {
    EXPECT_EQ(FoldedErrors(), c.expect.errors);
  }
  FinishAndAccount(accepted, retried);
}

constexpr int32_t kCover = OPOS_EPTR_COVER_OPEN;
constexpr int32_t kPaper = OPOS_EPTR_REC_EMPTY;
constexpr int32_t kFailed = 100003;  // a job failed: the port lost, the printer off
const Expect kOk{};
Expect Fails(int32_t rc, int32_t ext = 0) {
  return {rc, ext, {}, {}, false};
}
Expect Errors(std::vector<int32_t> e) {
  return {OPOS_SUCCESS, 0, std::move(e), {}, false};
}

const Case kCases[] = {
    {Fault::CoverOpen, Phase::Idle, kOk},
    {Fault::CoverOpen, Phase::Claim, kOk},
    {Fault::CoverOpen, Phase::SyncWrite, Fails(OPOS_E_EXTENDED, kCover)},
    {Fault::CoverOpen, Phase::AsyncQueue, Errors({kCover})},
    {Fault::CoverOpen, Phase::Transaction, Fails(OPOS_E_EXTENDED, kCover)},
    {Fault::CoverOpen, Phase::ErrorPending, Errors({kPaper, kCover})},
    {Fault::CoverOpen, Phase::Release, kOk},
    {Fault::PaperEnd, Phase::Idle, kOk},
    {Fault::PaperEnd, Phase::Claim, kOk},
    {Fault::PaperEnd, Phase::SyncWrite, Fails(OPOS_E_EXTENDED, kPaper)},
    {Fault::PaperEnd, Phase::AsyncQueue, Errors({kPaper})},
    {Fault::PaperEnd, Phase::Transaction, Fails(OPOS_E_EXTENDED, kPaper)},
    {Fault::PaperEnd, Phase::ErrorPending, Errors({kCover, kPaper})},
    {Fault::PaperEnd, Phase::Release, kOk},
    {Fault::Offline, Phase::Idle, kOk},
    {Fault::Offline, Phase::Claim, kOk},
    {Fault::Offline, Phase::SyncWrite, kOk},
    {Fault::Offline, Phase::AsyncQueue, kOk},
    {Fault::Offline, Phase::Transaction, kOk},
    {Fault::Offline, Phase::ErrorPending, Errors({kCover})},
    {Fault::Offline, Phase::Release, kOk},
    {Fault::PowerOff, Phase::Idle, {OPOS_SUCCESS, 0, {}, {OPOS_SUE_POWER_OFF_OFFLINE}, true}},
    {Fault::PowerOff, Phase::Claim, kOk},
    {Fault::PowerOff, Phase::SyncWrite, Fails(OPOS_E_FAILURE)},
    {Fault::PowerOff, Phase::AsyncQueue, Errors({kFailed})},
    {Fault::PowerOff, Phase::Transaction, Fails(OPOS_E_FAILURE)},
    {Fault::PowerOff, Phase::ErrorPending, Errors({kCover})},
    {Fault::PowerOff, Phase::Release, kOk},
    {Fault::Vanished, Phase::Idle, kOk},
    {Fault::Vanished, Phase::Claim, Fails(OPOS_E_TIMEOUT)},
    {Fault::Vanished, Phase::SyncWrite, Fails(OPOS_E_FAILURE)},
    {Fault::Vanished, Phase::AsyncQueue, Errors({kFailed})},
    {Fault::Vanished, Phase::Transaction, Fails(OPOS_E_FAILURE)},
    {Fault::Vanished, Phase::ErrorPending, Errors({kCover})},
    {Fault::Vanished, Phase::Release, kOk},
    {Fault::Restarted, Phase::Idle, kOk},
    {Fault::Restarted, Phase::SyncWrite, Fails(OPOS_E_FAILURE)},
    {Fault::Restarted, Phase::AsyncQueue, Errors({kFailed})},
    {Fault::Restarted, Phase::Transaction, Fails(OPOS_E_FAILURE)},
    {Fault::Restarted, Phase::ErrorPending, Errors({kCover})},
    {Fault::PortHeld, Phase::Claim, Fails(OPOS_E_TIMEOUT)},
    {Fault::StoreLocked, Phase::Idle, kOk},
    {Fault::StoreLocked, Phase::Claim, kOk},
    {Fault::StoreLocked, Phase::SyncWrite, kOk},
    {Fault::StoreLocked, Phase::Release, kOk},
    {Fault::DrawerByHand, Phase::Idle, kOk},
    {Fault::DrawerByHand, Phase::SyncWrite, kOk},
    {Fault::DrawerByHand, Phase::AsyncQueue, kOk},
    {Fault::DrawerByHand, Phase::Transaction, kOk},
    {Fault::DrawerByHand, Phase::ErrorPending, Errors({kCover})},
    {Fault::DrawerByHand, Phase::Release, kOk},
    {Fault::StatusGarbage, Phase::Idle, kOk},
    {Fault::StatusGarbage, Phase::SyncWrite, kOk},
    {Fault::StatusGarbage, Phase::AsyncQueue, kOk},
    {Fault::StatusGarbage, Phase::Transaction, kOk},
    {Fault::StatusGarbage, Phase::ErrorPending, Errors({kCover})},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace opos::receipt
