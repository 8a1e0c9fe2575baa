#pragma once
// The controller's host line behind a TCP server, as an Ethernet serial device server
// offers it: raw bytes, or Telnet with the COM Port Control option (RFC 2217), which takes
// the line settings and DTR/RTS from the station and reports the controller's CTS and DSR
// (its power) in modem-state notifications. One station at a time; a new connection
// replaces the old.
#include <cstdint>
#include <deque>
#include <string>

#include "base/real_loop.hpp"
#include "host_link.hpp"
#include "port_controller.hpp"

namespace shoplink::sim {

class TcpLink final : public HostLink {
 public:
  // Listens on HOST:PORT (PORT 0 picks a free one); throws std::runtime_error.
  TcpLink(RealLoop& loop, const std::string& host, int port, bool rfc2217);
  ~TcpLink() override;
  TcpLink(const TcpLink&) = delete;
  TcpLink& operator=(const TcpLink&) = delete;

  int port() const { return port_; }
  std::string address() const;  // "tcp://127.0.0.1:PORT" or "rfc2217://..."
  void attach(PortController& controller);

  void send_to_host(std::uint8_t b) override;
  void cts_changed(bool on) override;
  void power_changed(bool on) override;

  // The server's serial port runs at `port_rate` until the station sets its rate; while it
  // differs from `controller_rate` (the controller's host port) the bytes the station sends
  // reach the controller as framing errors, i.e. not at all. 0 = always the same rate.
  void set_rates(std::uint32_t port_rate, std::uint32_t controller_rate) {
    port_rate_ = port_rate;
    controller_rate_ = controller_rate;
  }
  long bytes_at_wrong_rate() const { return wrong_rate_; }

  // Closes the station's connection, as a device server restart would.
  void drop_client();
  // No more connections are taken: the address refuses them (a server that is off).
  void stop_listening();
  bool client_connected() const { return client_ >= 0; }
  int connections() const { return connections_; }

  // What the station set through COM Port Control (0 until set).
  struct ComPortState {
    bool agreed = false;
    std::uint32_t baud = 0;
    int data_size = 0, parity = 0, stop_size = 0, flow = 0;
    bool dtr = false, rts = false;
    std::uint8_t modem_mask = 0xFF;
  };
  const ComPortState& com_port() const { return com_; }

 private:
  void on_accept();
  void on_client(short revents);
  void flush();
  void update_events();
  void from_station(std::uint8_t b);
  void telnet(std::uint8_t verb, std::uint8_t option);
  void sub(const std::string& sb);
  void send_raw(std::string_view bytes);
  void notify_modem_state();
  void to_controller(std::uint8_t b);
  void pass_held();

  RealLoop& loop_;
  bool rfc2217_;
  PortController* controller_ = nullptr;
  int listen_fd_ = -1, listen_watch_ = -1;
  int client_ = -1, client_watch_ = -1;
  int port_ = 0;
  std::string host_;
  // Data for the controller waiting for its CTS, as a device server holds it; beyond
  // kHoldLimit the server stops reading (TCP then holds the station back). Telnet commands
  // are read and answered whatever CTS does.
  static constexpr std::size_t kHoldLimit = 64;
  std::deque<std::uint8_t> held_;
  std::string out_;
  int connections_ = 0;
  ComPortState com_;
  // Telnet receive state.
  int state_ = 0;  // 0 data, 1 IAC, 2 verb, 3 in SB, 4 IAC in SB
  std::uint8_t verb_ = 0;
  std::string sb_;
  bool will_binary_ = false, do_binary_ = false, will_sga_ = false;
  std::uint8_t last_state_ = 0;  // the modem state last notified
  std::uint32_t port_rate_ = 0, controller_rate_ = 0;
  long wrong_rate_ = 0;
};

}  // namespace shoplink::sim
