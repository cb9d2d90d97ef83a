#include "tools/vprinter/printer_model.h"

#include <algorithm>
#include <utility>

namespace vprinter {

namespace {

using Nanos = std::chrono::nanoseconds;
using u128 = unsigned __int128;
constexpr u128 kNanosPerSecond = 1000000000u;
constexpr int64_t kFarFutureNanos = int64_t{1} << 60;  // decades; keeps deadline sums in range

}  // namespace

PrinterModel::PrinterModel(const PrinterConfig& config, TimePoint now)
    : config_(config),
      now_(now),
      parser_([this](Command&& cmd) { on_command(std::move(cmd)); }),
      asb_mask_(config.asb_mask_at_power_on),
      anchor_time_(now) {}

uint32_t PrinterModel::rate() const {
  return config_.bytes_per_second != 0 ? config_.bytes_per_second : config_.lines_per_second;
}

bool PrinterModel::offline() const {
  return !online_requested_ || cover_open_ || paper_end_;
}

bool PrinterModel::can_print() const {
  return powered_ && !offline();
}

bool PrinterModel::pin3_high() const {
  return drawer_open_ == config_.sensor_high_when_open;
}

std::array<uint8_t, 4> PrinterModel::asb_report() const {
  std::array<uint8_t, 4> r{};
  r[0] = 0x10;
  if (pin3_high()) r[0] |= 0x04;
  if (offline()) r[0] |= 0x08;
  if (cover_open_) r[0] |= 0x20;
  if (paper_end_) r[2] |= 0x0C;
  return r;
}

std::optional<uint8_t> PrinterModel::realtime_status(int n) const {
  uint8_t b = 0x12;  // bits 1 and 4 are fixed high in every real-time status byte
  switch (n) {
    case 1:
      if (pin3_high()) b |= 0x04;
      if (offline()) b |= 0x08;
      return b;
    case 2:
      if (cover_open_) b |= 0x04;
      if (paper_end_) b |= 0x20;
      return b;
    case 3:
      return b;
    case 4:
      if (paper_end_) b |= 0x60;
      return b;
    default:
      return std::nullopt;
  }
}

template <typename F>
void PrinterModel::change_status(F change) {
  const std::array<uint8_t, 4> before = asb_report();
  change();
  if (!powered_ || asb_mask_ == 0) return;
  const std::array<uint8_t, 4> after = asb_report();
  // GS a mask bits: 0 drawer sensor, 1 online/offline (cover), 2 errors, 3 paper sensor.
  uint8_t changed = 0;
  const uint8_t first = before[0] ^ after[0];
  if (first & 0x04) changed |= 0x01;
  if (first & 0x28) changed |= 0x02;
  if (before[1] != after[1]) changed |= 0x04;
  if (before[2] != after[2] || before[3] != after[3]) changed |= 0x08;
  if (changed & asb_mask_) {
    reply(after);
    ++counters_.asb_reports;
  }
}

void PrinterModel::reply(std::span<const uint8_t> bytes) {
  if (replies_.size() + bytes.size() > config_.reply_limit) {
    counters_.replies_dropped += bytes.size();
    return;
  }
  replies_.insert(replies_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> PrinterModel::take_replies() {
  std::vector<uint8_t> out;
  out.swap(replies_);
  return out;
}

bool PrinterModel::receive(std::span<const uint8_t> bytes, TimePoint now) {
  if (!powered_) {
    counters_.bytes_discarded += bytes.size();
    return false;
  }
  counters_.bytes_received += bytes.size();
  const size_t room = config_.capture_limit > capture_.size() ? config_.capture_limit - capture_.size() : 0;
  const size_t keep = std::min(room, bytes.size());
  capture_.insert(capture_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
  counters_.capture_dropped += bytes.size() - keep;

  now_ = now;
  run_engine(now);
  parser_.feed(bytes);
  advance(now);
  return true;
}

uint64_t PrinterModel::work_of(const Command& cmd) const {
  if (config_.bytes_per_second == 0 && config_.lines_per_second != 0) {
    if (cmd.kind == CommandKind::LineFeed) return 1;
    if (cmd.kind == CommandKind::FeedLines) return static_cast<uint64_t>(cmd.arg(0, 0));
    return 0;
  }
  return cmd.length;
}

void PrinterModel::on_command(Command&& cmd) {
  work_received_ += work_of(cmd);
  switch (cmd.kind) {
    case CommandKind::RealTimeStatus:
      // Real-time: answered on receipt, even offline or with data still unprinted.
      if (cmd.valid) {
        if (std::optional<uint8_t> b = realtime_status(cmd.arg(0))) {
          reply(std::span<const uint8_t>(&*b, 1));
          ++counters_.realtime_replies;
        }
      }
      break;
    case CommandKind::RealTimePulse:
      // DLE DC4 1 m t: a pulse of t x 100 ms at once.
      if (cmd.arg(0) == 1 && (cmd.arg(1) == 0 || cmd.arg(1) == 1) && cmd.arg(2) >= 1 && cmd.arg(2) <= 8) {
        Action kick{work_done_, ActionKind::DrawerKick, cmd.arg(1) == 0 ? 2 : 5, cmd.arg(2) * 50, {}};
        fire(kick, now_);
      }
      break;
    case CommandKind::AutoStatusBack:
      // Handled on receipt, so that a host enabling ASB learns the state even while offline.
      asb_mask_ = static_cast<uint8_t>(cmd.arg(0, 0));
      if (asb_mask_ != 0) {
        reply(asb_report());
        ++counters_.asb_reports;
      }
      break;
    case CommandKind::ProcessIdRequest:
      if (cmd.data.size() == 4) {
        Action a{work_received_, ActionKind::ProcessId, 0, 0, {}};
        std::copy(cmd.data.begin(), cmd.data.end(), a.id.begin());
        actions_.push_back(a);
      }
      break;
    case CommandKind::DrawerKick:
      if (cmd.valid)
        actions_.push_back(Action{work_received_, ActionKind::DrawerKick, cmd.arg(0), cmd.arg(1), {}});
      break;
    default:
      break;
  }
  if (!actions_.empty()) run_engine(now_);
  record(std::move(cmd));
}

void PrinterModel::record(Command&& cmd) {
  if (cmd.kind == CommandKind::Text && !commands_.empty()) {
    Command& last = commands_.back();
    if (last.kind == CommandKind::Text && last.style == cmd.style && !last.truncated &&
        last.offset + last.length == cmd.offset &&
        last.data.size() + cmd.data.size() <= EscPosParser::kMaxTextRun &&
        commands_payload_ + cmd.data.size() <= config_.command_payload_budget) {
      last.data.insert(last.data.end(), cmd.data.begin(), cmd.data.end());
      last.length += cmd.length;
      commands_payload_ += cmd.data.size();
      return;
    }
  }
  if (commands_.size() >= config_.command_limit) {
    ++counters_.commands_dropped;
    return;
  }
  if (commands_payload_ + cmd.data.size() > config_.command_payload_budget) {
    std::vector<uint8_t>().swap(cmd.data);
    cmd.truncated = true;
  }
  commands_payload_ += cmd.data.size();
  commands_.push_back(std::move(cmd));
}

void PrinterModel::run_engine(TimePoint now) {
  if (!can_print() || work_done_ >= work_received_) {
    printing_ = false;  // the next stretch of printing starts from when it resumes
  } else if (!paced()) {
    work_done_ = work_received_;
  } else {
    // Progress counts from the start of the current stretch, so rounding never
    // accumulates and a deadline computed from the same anchor is met exactly.
    if (!printing_) {
      printing_ = true;
      anchor_time_ = now;
      anchor_done_ = work_done_;
    }
    const int64_t elapsed =
        std::max<int64_t>(0, std::chrono::duration_cast<Nanos>(now - anchor_time_).count());
    const u128 units = static_cast<u128>(elapsed) * rate() / kNanosPerSecond;
    const u128 reachable = static_cast<u128>(anchor_done_) + units;
    work_done_ = reachable >= work_received_ ? work_received_ : static_cast<uint64_t>(reachable);
    if (work_done_ == work_received_) printing_ = false;
  }
  if (!can_print()) return;
  while (!actions_.empty() && actions_.front().mark <= work_done_) {
    const Action a = actions_.front();
    actions_.pop_front();
    fire(a, now);
  }
}

void PrinterModel::fire(const Action& action, TimePoint now) {
  switch (action.kind) {
    case ActionKind::ProcessId: {
      const uint8_t r[7] = {0x37, 0x22, action.id[0], action.id[1], action.id[2], action.id[3], 0x00};
      reply(r);
      ++counters_.process_id_replies;
      break;
    }
    case ActionKind::DrawerKick: {
      ++counters_.drawer_kicks;
      const bool wired =
          (action.pin == 2 && config_.drawer_on_pin2) || (action.pin == 5 && config_.drawer_on_pin5);
      if (!wired) break;
      // The solenoid releases the drawer once the pulse's on-time (t1 x 2 ms) has passed.
      const TimePoint at = now + std::chrono::milliseconds(2 * action.on_time_units);
      if (!drawer_open_at_ || at < *drawer_open_at_) drawer_open_at_ = at;
      break;
    }
  }
}

void PrinterModel::set_drawer(bool open, TimePoint at) {
  const bool was_open = drawer_open_;
  change_status([&] { drawer_open_ = open; });
  if (open && !was_open && config_.drawer_auto_close) drawer_close_at_ = at + *config_.drawer_auto_close;
  if (!open) drawer_close_at_.reset();
}

void PrinterModel::run_timers(TimePoint now) {
  for (;;) {
    const bool open_due = drawer_open_at_ && *drawer_open_at_ <= now;
    const bool close_due = drawer_close_at_ && *drawer_close_at_ <= now;
    if (open_due && (!close_due || *drawer_open_at_ <= *drawer_close_at_)) {
      const TimePoint at = *drawer_open_at_;
      drawer_open_at_.reset();
      set_drawer(true, at);
    } else if (close_due) {
      const TimePoint at = *drawer_close_at_;
      drawer_close_at_.reset();
      set_drawer(false, at);
    } else {
      return;
    }
  }
}

void PrinterModel::advance(TimePoint now) {
  now_ = now;
  run_engine(now);
  run_timers(now);
}

std::optional<PrinterModel::TimePoint> PrinterModel::next_deadline() const {
  std::optional<TimePoint> best;
  auto consider = [&best](const std::optional<TimePoint>& t) {
    if (t && (!best || *t < *best)) best = t;
  };
  consider(drawer_open_at_);
  consider(drawer_close_at_);
  if (can_print() && paced() && printing_ && work_done_ < work_received_) {
    // Wake for the next reply or kick, or when the backlog is printed.
    const uint64_t target = actions_.empty() ? work_received_ : actions_.front().mark;
    const u128 ns = (static_cast<u128>(target - anchor_done_) * kNanosPerSecond + rate() - 1) / rate();
    const int64_t wait = ns > static_cast<u128>(kFarFutureNanos) ? kFarFutureNanos : static_cast<int64_t>(ns);
    consider(anchor_time_ + Nanos(wait));
  }
  return best;
}

void PrinterModel::set_cover_open(bool open, TimePoint now) {
  advance(now);
  change_status([&] { cover_open_ = open; });
  advance(now);
}

void PrinterModel::set_paper_end(bool end, TimePoint now) {
  advance(now);
  change_status([&] { paper_end_ = end; });
  advance(now);
}

void PrinterModel::set_online(bool online, TimePoint now) {
  advance(now);
  change_status([&] { online_requested_ = online; });
  advance(now);
}

void PrinterModel::open_drawer(TimePoint now) {
  advance(now);
  set_drawer(true, now);
}

void PrinterModel::close_drawer(TimePoint now) {
  advance(now);
  set_drawer(false, now);
}

void PrinterModel::set_power(bool on, TimePoint now) {
  advance(now);
  if (on == powered_) return;
  powered_ = on;
  // Either way the printer starts from nothing: a partial command, unprinted data,
  // pending replies and a pulse in progress die with the power; the drawer is mechanical.
  parser_.reset();
  actions_.clear();
  work_done_ = work_received_;
  drawer_open_at_.reset();
  printing_ = false;
  if (on) {
    asb_mask_ = config_.asb_mask_at_power_on;
    if (asb_mask_ != 0) {
      reply(asb_report());
      ++counters_.asb_reports;
    }
  }
  advance(now);
}

PrinterStatus PrinterModel::status() const {
  PrinterStatus s = counters_;
  s.powered = powered_;
  s.online_requested = online_requested_;
  s.cover_open = cover_open_;
  s.paper_end = paper_end_;
  s.drawer_open = drawer_open_;
  s.pin3_high = pin3_high();
  s.offline = offline();
  s.asb_mask = asb_mask_;
  s.unprinted_work = work_received_ - work_done_;
  return s;
}

void PrinterModel::clear_capture() {
  capture_.clear();
  commands_.clear();
  commands_payload_ = 0;
  counters_.capture_dropped = 0;
  counters_.commands_dropped = 0;
}

}  // namespace vprinter
