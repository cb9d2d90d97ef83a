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
  uint32_t bytesPerSecond = 0;
  uint32_t linesPerSecond = 0;
  // Drawer closes by itself this long after it opened; none: stays open.
  std::optional<std::chrono::milliseconds> drawerAutoClose;
  // Drawer switch wiring: pin 3 reads high while the drawer is open (default: low).
  bool sensorHighWhenOpen = false;
  // Which kick pins have a drawer on them.
  bool drawerOnPin2 = true;
  bool drawerOnPin5 = true;
  // GS a mask in force after power-on (a memory-switch setting); 0: ASB off until GS a.
  uint8_t asbMaskAtPowerOn = 0;
  // Memory bounds for what is kept for inspection.
  size_t captureLimit = 64u << 20;          // bytes of received data kept in memory
  size_t commandLimit = 200000;             // parsed commands kept
  size_t commandPayloadBudget = 32u << 20;  // payload bytes kept across all commands
  size_t replyLimit = 64u << 10;            // replies not yet taken by the port
};

struct PrinterStatus {
  bool powered = true;
  bool onlineRequested = true;  // the "offline"/"online" fault switch
  bool coverOpen = false;
  bool paperEnd = false;
  bool drawerOpen = false;
  bool pin3High = true;  // drawer-kick connector pin 3 as the printer reads it
  bool offline = false;  // what the status bits report
  uint8_t asbMask = 0;
  uint64_t bytesReceived = 0;   // accepted while powered
  uint64_t bytesDiscarded = 0;  // arrived while powered off
  uint64_t unprintedWork = 0;   // bytes or lines still waiting for the print engine
  uint32_t drawerKicks = 0;     // pulses executed
  uint32_t asbReports = 0;
  uint32_t processIdReplies = 0;
  uint32_t realtimeReplies = 0;
  uint64_t captureDropped = 0;   // received bytes not kept in memory (file still has them)
  uint64_t commandsDropped = 0;  // commands not kept (limit reached)
  uint64_t repliesDropped = 0;   // replies lost because nobody read the port
};

class PrinterModel {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  PrinterModel(const PrinterConfig& config, TimePoint now);
  PrinterModel(const PrinterModel&) = delete;
  PrinterModel& operator=(const PrinterModel&) = delete;

  // Bytes from the host. Returns false when powered off (the bytes were discarded).
  bool Receive(std::span<const uint8_t> bytes, TimePoint now);
  // Runs the print engine and the timers up to now.
  void Advance(TimePoint now);
  // When advance() next has something to do, if ever.
  std::optional<TimePoint> NextDeadline() const;

  bool HasReplies() const { return !replies_.empty(); }
  std::vector<uint8_t> TakeReplies();

  // Faults and the drawer, as a person at the printer would change them.
  void SetCoverOpen(bool open, TimePoint now);
  void SetPaperEnd(bool end, TimePoint now);
  void SetPower(bool on, TimePoint now);
  void SetOnline(bool online, TimePoint now);
  void OpenDrawer(TimePoint now);
  void CloseDrawer(TimePoint now);

  PrinterStatus Status() const;
  std::array<uint8_t, 4> AsbReport() const;
  // DLE EOT n reply byte; nullopt for an n the printer does not answer.
  std::optional<uint8_t> RealtimeStatus(int n) const;

  const std::vector<uint8_t>& Capture() const { return capture_; }
  const std::vector<Command>& Commands() const { return commands_; }
  void ClearCapture();  // received bytes and parsed commands

 private:
  enum class ActionKind : uint8_t { ProcessId, DrawerKick };
  struct Action {
    uint64_t mark;  // due once the engine has printed this much work
    ActionKind kind;
    int pin = 0;
    int onTimeUnits = 0;
    std::array<uint8_t, 4> id{};
  };

  void OnCommand(Command&& cmd);
  void Record(Command&& cmd);
  uint64_t WorkOf(const Command& cmd) const;
  bool CanPrint() const;
  bool Paced() const { return Rate() != 0; }
  uint32_t Rate() const;
  void RunEngine(TimePoint now);
  void Fire(const Action& action, TimePoint now);
  void RunTimers(TimePoint now);
  void SetDrawer(bool open, TimePoint now);
  void Reply(std::span<const uint8_t> bytes);
  bool Pin3High() const;
  bool Offline() const;
  // Runs change() and sends an ASB report when a status bit enabled by the mask changed.
  template <typename F>
  void ChangeStatus(F change);

  PrinterConfig config_;
  TimePoint now_;  // time of the call being handled, for the parser's sink
  EscPosParser parser_;

  bool powered_ = true;
  bool onlineRequested_ = true;
  bool coverOpen_ = false;
  bool paperEnd_ = false;
  bool drawerOpen_ = false;
  uint8_t asbMask_ = 0;

  // Print engine: work received and printed, and what happens when it is printed.
  uint64_t workReceived_ = 0;
  uint64_t workDone_ = 0;
  bool printing_ = false;  // a stretch of printing is under way since anchor_time_
  TimePoint anchorTime_;
  uint64_t anchorDone_ = 0;  // work_done_ when the stretch began
  std::deque<Action> actions_;

  std::optional<TimePoint> drawerOpenAt_;   // kick pulse on-time elapses
  std::optional<TimePoint> drawerCloseAt_;  // auto-close

  std::vector<uint8_t> replies_;
  std::vector<uint8_t> capture_;
  std::vector<Command> commands_;
  size_t commandsPayload_ = 0;
  PrinterStatus counters_;
};

}  // namespace vprinter
