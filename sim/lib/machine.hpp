#pragma once
// One CNC machine on a controller port: its control sends command blocks and programs in
// its own code, answers handshakes, and records and decodes everything it receives.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/event_loop.hpp"
#include "port_controller.hpp"
#include "sim_types.hpp"

namespace shoplink::sim {

struct MachineConfig {
  MachineCode code = MachineCode::IsoEven;
  int baud = 9600;
  std::string line_end = "\r\n";  // ISO controls' end of block (EIA always ends with 128)
  // Input buffer: Xoff when it holds more than xoff_at bytes (0 = never), Xon once the
  // control has worked it down to xon_at; the control takes consume_cps bytes a second
  // from it (0 = as fast as they come).
  int xoff_at = 0;
  int xon_at = 0;
  int consume_cps = 0;
  bool honour_xoff = true;               // its own output stops on DC3 and resumes on DC1
  bool binary = false;                   // takes raw bytes: no parity to check (binary_check)
  bool lynx_prompts = false;             // prompts ">" for every block (the Lynx control)
  bool ab_ack = false;                   // acknowledges (ACK) a "%COP" header block (Allen-Bradley)
  Duration reaction_delay = millis(50);  // how long the control takes to answer
  Duration program_gap = millis(3000);   // silence that ends a received program
  // The operator's cycle start after a request: Xon this long after each command block
  // has gone out (zero = never).
  Duration xon_after_command{};
  // In real time: the control works its input down at most this often instead of waking
  // once a byte (its rate stays exact; zero, on virtual time, is byte by byte).
  Duration delivery_step{};
};

struct UploadOptions {
  bool dc2_first = false;               // announce with DC2 and wait for DC1
  Duration dc2_timeout = millis(5000);  // then upload anyway
  int burst_lines = 0;                  // lines per burst (0 = one burst)
  Duration burst_pause{};               // pause between bursts
  int leader_nuls = 0;
  int trailer_nuls = 0;
  std::string line_end;  // empty = the machine's own
};

// One received program as the machine sees it.
struct Program {
  std::string leader;     // blank feed and line ends before the first text
  std::string text;       // the program proper, decoded ('\n' line ends, CRs kept as sent)
  std::string trailer;    // NUL run, "%" end mark after blank feed, EOT, DC4 ...
  std::string raw;        // the bytes as received
  bool complete = false;  // the line fell silent after it
  int parity_errors = 0;
  TimePoint started{}, ended{};
  // The non-empty lines of `text`, CRs removed.
  std::vector<std::string> lines() const;
};

class Machine {
 public:
  Machine(EventLoop& loop, PortController& controller, int port, MachineConfig config = {});
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  void configure(MachineConfig config);
  const MachineConfig& config() const { return config_; }
  int port() const { return port_; }

  // Output (queued behind what the machine is already sending).
  void send_command(const std::string& text);  // encoded, with the machine's end of block
  void send_raw(const std::string& bytes);
  void send_text(const std::string& text);  // encoded, no end of block
  void send_xon();
  void send_xoff();
  void send_dc2();
  void send_ack();
  void upload(const std::string& program_text, UploadOptions opts = {});
  // Burny CLINK: ESC ENQ, then `command` once the station answers ACK, then `then`.
  void burny_enquiry(const std::string& command = {}, std::function<void()> then = {});
  // Lynx: "!S", then `file_name` when the station prompts "ENTER FILE NAME:"; from then on
  // the machine prompts ">" for each block.
  void lynx_request(const std::string& file_name);
  // After the received text ends with `pattern`, send `reply` (raw bytes).
  void on_receive(std::string pattern, std::string reply, bool once = false);

  // Input, as it reached the machine.
  const std::string& received_bytes() const { return received_; }
  std::string received_text() const;  // decoded by the machine's own code
  std::vector<Program> programs() const;
  int parity_errors() const;
  bool output_held() const { return held_; }  // stopped by DC3 from the station
  int xoffs_sent() const { return xoffs_sent_; }
  int xons_sent() const { return xons_sent_; }
  int acks_received() const { return acks_received_; }
  int dc1_received() const { return dc1_received_; }
  int dc3_received() const { return dc3_received_; }
  long bytes_sent() const { return bytes_sent_; }
  bool sending() const { return !tx_.empty() || tx_busy_; }
  int uploads_done() const { return uploads_done_; }
  int dc2_unanswered() const { return dc2_unanswered_; }

  // Drops what was received so far (a day-long run keeps its memory flat); refused, false,
  // while a program is still arriving.
  bool forget_received();

  // Controller side: one byte fully arrived.
  void on_byte(std::uint8_t b);

  // Watchers (the real-time program prints through these): each decoded line received,
  // each command block sent.
  void set_line_watcher(std::function<void(const std::string&)> f) { line_watcher_ = std::move(f); }
  void set_command_watcher(std::function<void(const std::string&)> f) {
    command_watcher_ = std::move(f);
  }

 private:
  struct Item {
    bool pause = false;
    bool priority = false;     // a handshake: goes even while output is held
    bool upload_end = false;   // marks the end of an upload
    bool command_end = false;  // marks the end of a command block
    std::uint8_t byte = 0;
    Duration wait{};
  };
  struct Reaction {
    std::string pattern;
    std::string reply;
    std::function<void()> action;
    bool once = false;
    bool done = false;
  };
  std::string control(char c) const;  // a handshake character in the machine's code
  void queue_bytes(const std::string& bytes);
  void send_now(const std::string& bytes);  // ahead of everything queued
  void start_upload();
  void close_segment();
  void pump();
  void react_later(std::string reply, std::function<void()> action = {});
  void consume_tick();
  void check_gap();

  EventLoop& loop_;
  PortController& controller_;
  int port_;
  MachineConfig config_;
  std::deque<Item> tx_;
  bool tx_busy_ = false;
  bool held_ = false;
  std::string received_;
  std::string decoded_;  // received text decoded byte by byte, for reactions
  std::vector<std::pair<std::size_t, std::size_t>> segments_;  // [begin, end) into received_
  bool segment_open_ = false;
  std::size_t segment_begin_ = 0;
  bool gap_check_pending_ = false;
  TimePoint last_rx_{};
  std::vector<TimePoint> segment_times_;  // start, end pairs
  int input_level_ = 0;
  TimePoint consume_due_{};  // when the control has taken the next byte of its input
  bool xoff_sent_ = false;
  bool consuming_ = false;
  bool lynx_active_ = false;
  bool burny_waiting_ = false;
  std::string burny_command_;
  std::function<void()> burny_then_;
  bool awaiting_dc1_ = false;
  std::vector<Item> pending_upload_;
  std::vector<Reaction> reactions_;
  int xoffs_sent_ = 0, xons_sent_ = 0, acks_received_ = 0, dc1_received_ = 0, dc3_received_ = 0;
  int uploads_done_ = 0, dc2_unanswered_ = 0, dc2_announcements_ = 0;
  long bytes_sent_ = 0;
  std::function<void(const std::string&)> line_watcher_, command_watcher_;
  std::string line_so_far_;
  std::deque<std::string> commands_in_flight_;
  LifeToken life_;
};

}  // namespace shoplink::sim
