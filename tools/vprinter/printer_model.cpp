#include "tools/vprinter/printer_model.h"

#include <algorithm>
#include <utility>

namespace vprinter {

namespace {

using Nanos = std::chrono::nanoseconds;
using U128 = unsigned __int128;
constexpr U128 kNanosPerSecond = 1000000000u;
constexpr int64_t kFarFutureNanos = int64_t{1} << 60;  // decades; keeps deadline sums in range

}  // namespace

PrinterModel::PrinterModel(const PrinterConfig& config, TimePoint now)
    : config_(config),
      now_(now),
      parser_([this](Command&& cmd) { OnCommand(std::move(cmd)); }),
      asbMask_(config.asbMaskAtPowerOn),
      anchorTime_(now) {}

uint32_t PrinterModel::Rate() const {
  return config_.bytesPerSecond != 0 ? config_.bytesPerSecond : config_.linesPerSecond;
}

bool PrinterModel::Offline() const {
  return !onlineRequested_ || coverOpen_ || paperEnd_;
}

bool PrinterModel::CanPrint() const {
  return powered_ && !Offline();
}

bool PrinterModel::Pin3High() const {
  return drawerOpen_ == config_.sensorHighWhenOpen;
}

std::array<uint8_t, 4> PrinterModel::AsbReport() const {
  std::array<uint8_t, 4> r{};
  r[0] = 0x10;
  if (Pin3High()) r[0] |= 0x04;
  if (Offline()) r[0] |= 0x08;
  if (coverOpen_) r[0] |= 0x20;
  if (paperEnd_) r[2] |= 0x0C;
  return r;
}

std::optional<uint8_t> PrinterModel::RealtimeStatus(int n) const {
  uint8_t b = 0x12;  // bits 1 and 4 are fixed high in every real-time status byte
  switch (n) {
    case 1:
      if (Pin3High()) b |= 0x04;
      if (Offline()) b |= 0x08;
      return b;
    case 2:
      if (coverOpen_) b |= 0x04;
      if (paperEnd_) b |= 0x20;
      return b;
    case 3:
      return b;
    case 4:
      if (paperEnd_) b |= 0x60;
      return b;
    default:
      return std::nullopt;
  }
}

template <typename F>
void PrinterModel::ChangeStatus(F change) {
  const std::array<uint8_t, 4> before = AsbReport();
  change();
  if (!powered_ || asbMask_ == 0) return;
  const std::array<uint8_t, 4> after = AsbReport();
  // GS a mask bits: 0 drawer sensor, 1 online/offline (cover), 2 errors, 3 paper sensor.
  uint8_t changed = 0;
  const uint8_t first = before[0] ^ after[0];
  if (first & 0x04) changed |= 0x01;
  if (first & 0x28) changed |= 0x02;
  if (before[1] != after[1]) changed |= 0x04;
  if (before[2] != after[2] || before[3] != after[3]) changed |= 0x08;
  if (changed & asbMask_) {
    Reply(after);
    ++counters_.asbReports;
  }
}

void PrinterModel::Reply(std::span<const uint8_t> bytes) {
  if (replies_.size() + bytes.size() > config_.replyLimit) {
    counters_.repliesDropped += bytes.size();
    return;
  }
  replies_.insert(replies_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> PrinterModel::TakeReplies() {
  std::vector<uint8_t> out;
  out.swap(replies_);
  return out;
}

bool PrinterModel::Receive(std::span<const uint8_t> bytes, TimePoint now) {
  if (!powered_) {
    counters_.bytesDiscarded += bytes.size();
    return false;
  }
  counters_.bytesReceived += bytes.size();
  const size_t room = config_.captureLimit > capture_.size() ? config_.captureLimit - capture_.size() : 0;
  const size_t keep = std::min(room, bytes.size());
  capture_.insert(capture_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
  counters_.captureDropped += bytes.size() - keep;

  now_ = now;
  RunEngine(now);
  parser_.Feed(bytes);
  Advance(now);
  return true;
}

uint64_t PrinterModel::WorkOf(const Command& cmd) const {
  if (config_.bytesPerSecond == 0 && config_.linesPerSecond != 0) {
    if (cmd.kind == CommandKind::LineFeed) return 1;
    if (cmd.kind == CommandKind::FeedLines) return static_cast<uint64_t>(cmd.Arg(0, 0));
    return 0;
  }
  return cmd.length;
}

void PrinterModel::OnCommand(Command&& cmd) {
  workReceived_ += WorkOf(cmd);
  switch (cmd.kind) {
    case CommandKind::RealTimeStatus:
      // Real-time: answered on receipt, even offline or with data still unprinted.
      if (cmd.valid) {
        if (std::optional<uint8_t> b = RealtimeStatus(cmd.Arg(0))) {
          Reply(std::span<const uint8_t>(&*b, 1));
          ++counters_.realtimeReplies;
        }
      }
      break;
    case CommandKind::RealTimePulse:
      // DLE DC4 1 m t: a pulse of t x 100 ms at once.
      if (cmd.Arg(0) == 1 && (cmd.Arg(1) == 0 || cmd.Arg(1) == 1) && cmd.Arg(2) >= 1 && cmd.Arg(2) <= 8) {
        Action kick{workDone_, ActionKind::DrawerKick, cmd.Arg(1) == 0 ? 2 : 5, cmd.Arg(2) * 50, {}};
        Fire(kick, now_);
      }
      break;
    case CommandKind::AutoStatusBack:
      // Handled on receipt, so that a host enabling ASB learns the state even while offline.
      asbMask_ = static_cast<uint8_t>(cmd.Arg(0, 0));
      if (asbMask_ != 0) {
        Reply(AsbReport());
        ++counters_.asbReports;
      }
      break;
    case CommandKind::ProcessIdRequest:
      if (cmd.data.size() == 4) {
        Action a{workReceived_, ActionKind::ProcessId, 0, 0, {}};
        std::copy(cmd.data.begin(), cmd.data.end(), a.id.begin());
        actions_.push_back(a);
      }
      break;
    case CommandKind::DrawerKick:
      if (cmd.valid)
        actions_.push_back(Action{workReceived_, ActionKind::DrawerKick, cmd.Arg(0), cmd.Arg(1), {}});
      break;
    default:
      break;
  }
  if (!actions_.empty()) RunEngine(now_);
  Record(std::move(cmd));
}

void PrinterModel::Record(Command&& cmd) {
  if (cmd.kind == CommandKind::Text && !commands_.empty()) {
    Command& last = commands_.back();
    if (last.kind == CommandKind::Text && last.style == cmd.style && !last.truncated &&
        last.offset + last.length == cmd.offset &&
        last.data.size() + cmd.data.size() <= EscPosParser::kMaxTextRun &&
        commandsPayload_ + cmd.data.size() <= config_.commandPayloadBudget) {
      last.data.insert(last.data.end(), cmd.data.begin(), cmd.data.end());
      last.length += cmd.length;
      commandsPayload_ += cmd.data.size();
      return;
    }
  }
  if (commands_.size() >= config_.commandLimit) {
    ++counters_.commandsDropped;
    return;
  }
  if (commandsPayload_ + cmd.data.size() > config_.commandPayloadBudget) {
    std::vector<uint8_t>().swap(cmd.data);
    cmd.truncated = true;
  }
  commandsPayload_ += cmd.data.size();
  commands_.push_back(std::move(cmd));
}

void PrinterModel::RunEngine(TimePoint now) {
  if (!CanPrint() || workDone_ >= workReceived_) {
    printing_ = false;  // the next stretch of printing starts from when it resumes
  } else if (!Paced()) {
    workDone_ = workReceived_;
  } else {
    // Progress counts from the start of the current stretch, so rounding never
    // accumulates and a deadline computed from the same anchor is met exactly.
    if (!printing_) {
      printing_ = true;
      anchorTime_ = now;
      anchorDone_ = workDone_;
    }
    const int64_t elapsed =
        std::max<int64_t>(0, std::chrono::duration_cast<Nanos>(now - anchorTime_).count());
    const U128 units = static_cast<U128>(elapsed) * Rate() / kNanosPerSecond;
    const U128 reachable = static_cast<U128>(anchorDone_) + units;
    workDone_ = reachable >= workReceived_ ? workReceived_ : static_cast<uint64_t>(reachable);
    if (workDone_ == workReceived_) printing_ = false;
  }
  if (!CanPrint()) return;
  while (!actions_.empty() && actions_.front().mark <= workDone_) {
    const Action a = actions_.front();
    actions_.pop_front();
    Fire(a, now);
  }
}

void PrinterModel::Fire(const Action& action, TimePoint now) {
  switch (action.kind) {
    case ActionKind::ProcessId: {
      const uint8_t r[7] = {0x37, 0x22, action.id[0], action.id[1], action.id[2], action.id[3], 0x00};
      Reply(r);
      ++counters_.processIdReplies;
      break;
    }
    case ActionKind::DrawerKick: {
      ++counters_.drawerKicks;
      const bool wired =
          (action.pin == 2 && config_.drawerOnPin2) || (action.pin == 5 && config_.drawerOnPin5);
      if (!wired) break;
      // The solenoid releases the drawer once the pulse's on-time (t1 x 2 ms) has passed.
      const TimePoint at = now + std::chrono::milliseconds(2 * action.onTimeUnits);
      if (!drawerOpenAt_ || at < *drawerOpenAt_) drawerOpenAt_ = at;
      break;
    }
  }
}

void PrinterModel::SetDrawer(bool open, TimePoint at) {
  const bool wasOpen = drawerOpen_;
  ChangeStatus([&] { drawerOpen_ = open; });
  if (open && !wasOpen && config_.drawerAutoClose) drawerCloseAt_ = at + *config_.drawerAutoClose;
  if (!open) drawerCloseAt_.reset();
}

void PrinterModel::RunTimers(TimePoint now) {
  for (;;) {
    const bool openDue = drawerOpenAt_ && *drawerOpenAt_ <= now;
    const bool closeDue = drawerCloseAt_ && *drawerCloseAt_ <= now;
    if (openDue && (!closeDue || *drawerOpenAt_ <= *drawerCloseAt_)) {
      const TimePoint at = *drawerOpenAt_;
      drawerOpenAt_.reset();
      SetDrawer(true, at);
    } else if (closeDue) {
      const TimePoint at = *drawerCloseAt_;
      drawerCloseAt_.reset();
      SetDrawer(false, at);
    } else {
      return;
    }
  }
}

void PrinterModel::Advance(TimePoint now) {
  now_ = now;
  RunEngine(now);
  RunTimers(now);
}

std::optional<PrinterModel::TimePoint> PrinterModel::NextDeadline() const {
  std::optional<TimePoint> best;
  auto consider = [&best](const std::optional<TimePoint>& t) {
    if (t && (!best || *t < *best)) best = t;
  };
  consider(drawerOpenAt_);
  consider(drawerCloseAt_);
  if (CanPrint() && Paced() && printing_ && workDone_ < workReceived_) {
    // Wake for the next reply or kick, or when the backlog is printed.
    const uint64_t target = actions_.empty() ? workReceived_ : actions_.front().mark;
    const U128 ns = (static_cast<U128>(target - anchorDone_) * kNanosPerSecond + Rate() - 1) / Rate();
    const int64_t wait = ns > static_cast<U128>(kFarFutureNanos) ? kFarFutureNanos : static_cast<int64_t>(ns);
    consider(anchorTime_ + Nanos(wait));
  }
  return best;
}

void PrinterModel::SetCoverOpen(bool open, TimePoint now) {
  Advance(now);
  ChangeStatus([&] { coverOpen_ = open; });
  Advance(now);
}

void PrinterModel::SetPaperEnd(bool end, TimePoint now) {
  Advance(now);
  ChangeStatus([&] { paperEnd_ = end; });
  Advance(now);
}

void PrinterModel::SetOnline(bool online, TimePoint now) {
  Advance(now);
  ChangeStatus([&] { onlineRequested_ = online; });
  Advance(now);
}

void PrinterModel::OpenDrawer(TimePoint now) {
  Advance(now);
  SetDrawer(true, now);
}

void PrinterModel::CloseDrawer(TimePoint now) {
  Advance(now);
  SetDrawer(false, now);
}

void PrinterModel::SetPower(bool on, TimePoint now) {
  Advance(now);
  if (on == powered_) return;
  powered_ = on;
  // Either way the printer starts from nothing: a partial command, unprinted data,
  // pending replies and a pulse in progress die with the power; the drawer is mechanical.
  parser_.Reset();
  actions_.clear();
  workDone_ = workReceived_;
  drawerOpenAt_.reset();
  printing_ = false;
  if (on) {
    asbMask_ = config_.asbMaskAtPowerOn;
    if (asbMask_ != 0) {
      Reply(AsbReport());
      ++counters_.asbReports;
    }
  }
  Advance(now);
}

PrinterStatus PrinterModel::Status() const {
  PrinterStatus s = counters_;
  s.powered = powered_;
  s.onlineRequested = onlineRequested_;
  s.coverOpen = coverOpen_;
  s.paperEnd = paperEnd_;
  s.drawerOpen = drawerOpen_;
  s.pin3High = Pin3High();
  s.offline = Offline();
  s.asbMask = asbMask_;
  s.unprintedWork = workReceived_ - workDone_;
  return s;
}

void PrinterModel::ClearCapture() {
  capture_.clear();
  commands_.clear();
  commandsPayload_ = 0;
  counters_.captureDropped = 0;
  counters_.commandsDropped = 0;
}

}  // namespace vprinter
