#pragma once
// The eight-port serial multiplexer between the station and the machines: answers the
// probe, takes the set-up string, keeps a buffer per port of what each machine sent while
// another port was selected, switches ports on DC4 n DC4 "Q" and passes data both ways,
// each machine side at that port's own rate.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/event_loop.hpp"
#include "host_flow.hpp"
#include "host_link.hpp"
#include "sim_types.hpp"

namespace shoplink::sim {

struct ControllerOptions {
  std::string probe_answer = "OK*\r\n";
  Duration answer_delay = millis(20);  // from the end of the probe to the first answer byte
  // CTS drops when the selected port's output queue (towards its machine) holds more
  // than high_water bytes and comes back at low_water or below.
  int high_water = 64;
  int low_water = 16;
  // When set, the controller holds data for the host while the host's RTS is off.
  bool honour_host_rts = false;
  long default_port_baud = 9600;  // a port's rate until the set-up string gives one
  int initial_port = 0;           // selected at power-up (0 = none until the host selects one)
  // In real time: hand the machines what fell due at most this often instead of waking once
  // a byte (the line's rate stays exact; zero, on virtual time, is byte by byte).
  Duration delivery_step{};
};

class PortController {
 public:
  static constexpr int kPorts = 8;
  using MachineSink = std::function<void(std::uint8_t)>;

  explicit PortController(EventLoop& loop, ControllerOptions opts = {});
  PortController(const PortController&) = delete;
  PortController& operator=(const PortController&) = delete;

  void attach_host(HostLink* link) { host_ = link; }
  void attach_machine(int port, MachineSink sink, long machine_baud);

  // Transport side: one byte fully arrived from the host.
  void on_host_byte(std::uint8_t b);
  // The host's modem outputs as the controller sees them.
  void on_host_lines(bool dtr, bool rts);
  // Machine side: one byte fully arrived from the machine on `port`.
  void on_machine_byte(int port, std::uint8_t b);

  // Probe answer behaviour.
  void set_probe_answer(std::string answer);
  void set_silent(bool on);
  void set_answer_pieces(std::vector<std::string> pieces, Duration gap);
  // Off: the buffers and a half-read command are lost, CTS and DSR drop. Back on, the
  // controller starts afresh: every port's set-up is forgotten (each port runs at its
  // default rate) and no port is selected until the host selects one (or initial_port).
  void set_powered(bool on);
  bool powered() const { return powered_; }
  // The host line's DSR: on while the controller has power.
  bool dsr() const { return powered_; }
  int restarts() const { return restarts_; }  // times power came back

  // CTS towards the host: powered and the selected port's output not overrun.
  bool cts() const;

  int selected_port() const { return selected_; }
  const PortParams& params(int port) const { return params_.at(port); }
  long port_baud(int port) const;
  int setup_blocks() const { return setup_blocks_; }   // complete port blocks taken
  int malformed_blocks() const { return malformed_; }  // blocks that did not parse
  int probes_answered() const { return probes_answered_; }
  int setup_ends() const { return setup_ends_; }  // DC4 "J" alone
  int selects() const { return selects_; }
  bool host_dtr() const { return host_dtr_; }
  bool host_rts() const { return host_rts_; }

  // Off: the transcript, the routed bytes and the line events stop growing (a day-long run).
  void set_recording(bool on) { recording_ = on; }
  const std::vector<TranscriptEntry>& transcript() const { return transcript_; }
  std::string from_host() const;  // every byte the station wrote, in order
  std::string to_host() const;    // every byte handed to the host, in order
  // Data bytes from the host routed to the machine on `port` (controller commands removed).
  const std::string& bytes_for_host_port(int port) const { return routed_.at(port); }
  // What `port`'s machine sent that is still held (not yet handed to the host).
  std::size_t buffered(int port) const { return inbound_.at(port).size(); }
  std::size_t output_queued(int port) const { return outbound_.at(port).size(); }
  // Per port: how fast the station's characters came and how many after an Xoff.
  const HostFlow& flow() const { return flow_; }
  // Host-line modem changes with their time ("DTR on", "RTS off").
  const std::vector<std::pair<TimePoint, std::string>>& line_events() const { return line_events_; }

 private:
  enum class Parse { Normal, Esc, EscJ, EscJEsc, Digit, DigitEsc, Block };
  void handle(std::uint8_t b);
  void data_to_machine(std::uint8_t b);
  void select(int port);
  void answer_probe();
  void finish_block(bool complete);
  bool block_complete() const;
  void to_host_byte(int port, std::uint8_t b);
  void flush_inbound(int port);
  void pump_out(int port);
  void deliver_due(int port);
  void update_cts();

  EventLoop& loop_;
  ControllerOptions opts_;
  HostLink* host_ = nullptr;
  bool powered_ = true;
  bool recording_ = true;
  bool silent_ = false;
  std::vector<std::string> pieces_;
  Duration piece_gap_{};
  int selected_ = 0;
  Parse state_ = Parse::Normal;
  int pending_digit_ = 0;
  int block_port_ = 0;
  std::string block_;
  std::array<PortParams, kPorts + 1> params_{};
  std::array<long, kPorts + 1> machine_baud_{};
  std::array<MachineSink, kPorts + 1> sinks_{};
  std::array<std::deque<std::uint8_t>, kPorts + 1> inbound_{};   // machine -> host, held
  std::array<std::deque<std::uint8_t>, kPorts + 1> outbound_{};  // host -> machine, queued
  std::array<bool, kPorts + 1> out_busy_{};
  std::array<TimePoint, kPorts + 1> out_due_{};  // when the front byte has reached its machine
  std::array<bool, kPorts + 1> overrun_{};
  std::array<std::string, kPorts + 1> routed_{};
  bool last_cts_ = true;
  bool host_dtr_ = false, host_rts_ = false;
  int setup_blocks_ = 0, malformed_ = 0, probes_answered_ = 0, setup_ends_ = 0, selects_ = 0;
  int restarts_ = 0;
  std::vector<TranscriptEntry> transcript_;
  std::vector<std::pair<TimePoint, std::string>> line_events_;
  HostFlow flow_;
  LifeToken life_;
};

}  // namespace shoplink::sim
