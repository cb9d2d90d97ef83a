// The printer itself, without any I/O: what it does with the bytes it receives, the
// replies it sends back, its faults, its drawer-kick connector and its print engine.
// Time is passed in by the caller, so the behaviour is deterministic under test.
// Not thread-safe: VirtualPrinter serialises every call under its lock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "tools/vprinter/escpos_command.h"
#include "tools/vprinter/escpos_parser.h"

namespace vprinter {

struct PrinterConfig {
  // Print speed. Both 0: everything is printed the moment it arrives. Otherwise
  // bytes_per_second paces every received byte, or lines_per_second paces line
  // feeds (LF, ESC d n) while other data costs nothing.
  uint32_t bytes_per_second = 0;
  uint32_t lines_per_second = 0;
  // Drawer closes by itself this long after it opened; none: stays open.
  std::optional<std::chrono::milliseconds> drawer_auto_close;
  // Drawer switch wiring: pin 3 reads high while the drawer is open (default: low).
  bool sensor_high_when_open = false;
  // Which kick pins have a drawer on them.
  bool drawer_on_pin2 = true;
  bool drawer_on_pin5 = true;
  // GS a mask in force after power-on (a memory-switch setting); 0: ASB off until GS a.
  uint8_t asb_mask_at_power_on = 0;
  // Memory bounds for what is kept for inspection.
  size_t capture_limit = 64u << 20;           // bytes of received data kept in memory
  size_t command_limit = 200000;              // parsed commands kept
  size_t command_payload_budget = 32u << 20;  // payload bytes kept across all commands
  size_t reply_limit = 64u << 10;             // replies not yet taken by the port
};

struct PrinterStatus {
  bool powered = true;
  bool online_requested = true;  // the "offline"/"online" fault switch
  bool cover_open = false;
  bool paper_end = false;
  bool drawer_open = false;
  bool pin3_high = true;  // drawer-kick connector pin 3 as the printer reads it
  bool offline = false;   // what the status bits report
  uint8_t asb_mask = 0;
  uint64_t bytes_received = 0;   // accepted while powered
  uint64_t bytes_discarded = 0;  // arrived while powered off
  uint64_t unprinted_work = 0;   // bytes or lines still waiting for the print engine
  uint32_t drawer_kicks = 0;     // pulses executed
  uint32_t asb_reports = 0;
  uint32_t process_id_replies = 0;
  uint32_t realtime_replies = 0;
  uint64_t capture_dropped = 0;   // received bytes not kept in memory (file still has them)
  uint64_t commands_dropped = 0;  // commands not kept (limit reached)
  uint64_t replies_dropped = 0;   // replies lost because nobody read the port
};

class PrinterModel {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  PrinterModel(const PrinterConfig& config, TimePoint now);
  PrinterModel(const PrinterModel&) = delete;
  PrinterModel& operator=(const PrinterModel&) = delete;

  // Bytes from the host. Returns false when powered off (the bytes were discarded).
  bool receive(std::span<const uint8_t> bytes, TimePoint now);
  // Runs the print engine and the timers up to now.
  void advance(TimePoint now);
  // When advance() next has something to do, if ever.
  std::optional<TimePoint> next_deadline() const;

  bool has_replies() const { return !replies_.empty(); }
  std::vector<uint8_t> take_replies();

  // Faults and the drawer, as a person at the printer would change them.
  void set_cover_open(bool open, TimePoint now);
  void set_paper_end(bool end, TimePoint now);
  void set_power(bool on, TimePoint now);
  void set_online(bool online, TimePoint now);
  void open_drawer(TimePoint now);
  void close_drawer(TimePoint now);

  PrinterStatus status() const;
  std::array<uint8_t, 4> asb_report() const;
  // DLE EOT n reply byte; nullopt for an n the printer does not answer.
  std::optional<uint8_t> realtime_status(int n) const;

  const std::vector<uint8_t>& capture() const { return capture_; }
  const std::vector<Command>& commands() const { return commands_; }
  void clear_capture();  // received bytes and parsed commands

 private:
  enum class ActionKind : uint8_t { ProcessId, DrawerKick };
  struct Action {
    uint64_t mark;  // due once the engine has printed this much work
    ActionKind kind;
    int pin = 0;
    int on_time_units = 0;
    std::array<uint8_t, 4> id{};
  };

  void on_command(Command&& cmd);
  void record(Command&& cmd);
  uint64_t work_of(const Command& cmd) const;
  bool can_print() const;
  bool paced() const { return rate() != 0; }
  uint32_t rate() const;
  void run_engine(TimePoint now);
  void fire(const Action& action, TimePoint now);
  void run_timers(TimePoint now);
  void set_drawer(bool open, TimePoint now);
  void reply(std::span<const uint8_t> bytes);
  bool pin3_high() const;
  bool offline() const;
  // Runs change() and sends an ASB report when a status bit enabled by the mask changed.
  template <typename F>
  void change_status(F change);

  PrinterConfig config_;
  TimePoint now_;  // time of the call being handled, for the parser's sink
  EscPosParser parser_;

  bool powered_ = true;
  bool online_requested_ = true;
  bool cover_open_ = false;
  bool paper_end_ = false;
  bool drawer_open_ = false;
  uint8_t asb_mask_ = 0;

  // Print engine: work received and printed, and what happens when it is printed.
  uint64_t work_received_ = 0;
  uint64_t work_done_ = 0;
  bool printing_ = false;  // a stretch of printing is under way since anchor_time_
  TimePoint anchor_time_;
  uint64_t anchor_done_ = 0;  // work_done_ when the stretch began
  std::deque<Action> actions_;

  std::optional<TimePoint> drawer_open_at_;   // kick pulse on-time elapses
  std::optional<TimePoint> drawer_close_at_;  // auto-close

  std::vector<uint8_t> replies_;
  std::vector<uint8_t> capture_;
  std::vector<Command> commands_;
  size_t commands_payload_ = 0;
  PrinterStatus counters_;
};

}  // namespace vprinter
