#pragma once
// The host line through an Ethernet serial device server: "tcp://HOST:PORT" (raw bytes on
// a TCP socket) or "rfc2217://HOST:PORT" (Telnet with the COM Port Control option, which
// carries the line settings, DTR/RTS and the CTS state).
//
// A network connection cannot say how much of what it took is still waiting to go out of
// the device server's serial port, so output is always paced at the line's rate
// (LinePacer) unless pacing is turned off.
//
// A dropped connection does not close the port: the station keeps running while the line
// reconnects with back-off (kFirstRetry doubling to kLongestRetry). While it is down CTS
// reads as off, so a transfer stalls and ends as any stall does; output written meanwhile,
// and output accepted but not yet sent when the drop came, is discarded rather than sent
// late to a machine that no longer expects it. What had arrived before the drop is kept
// for the station to read: it is the line's data, received whole.
//
// Over RFC 2217 no data goes until the server has agreed to COM Port Control and answered
// the baud rate, data size, parity and stop size (or kSetupWait has passed): sent earlier,
// the first characters would leave at whatever rate the server's port had.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/controller_power.hpp"
#include "base/io_loop.hpp"
#include "base/line_pacer.hpp"
#include "base/serial_port.hpp"

namespace shoplink {

class NetSerialPort final : public SerialPort {
 public:
  enum class Protocol { Raw, Rfc2217 };
  struct Address {
    Protocol protocol = Protocol::Raw;
    std::string host;
    std::string port;
  };
  // "tcp://HOST:PORT" or "rfc2217://HOST:PORT" (scheme case-insensitive); nullopt otherwise.
  static std::optional<Address> parse(std::string_view value);
  static bool names_network(std::string_view value) { return parse(value).has_value(); }

  static constexpr Duration kFirstRetry = std::chrono::seconds(1);
  static constexpr Duration kLongestRetry = std::chrono::seconds(30);
  // The wait before the attempt after one that waited `delay`.
  static Duration backoff_after(Duration delay);
  static constexpr Duration kConnectTimeout = std::chrono::seconds(3);
  // A connection counts as good, so that the next drop starts the back-off again from
  // kFirstRetry, once it has stayed up this long or carried data from the line. A server
  // that accepts and closes at once (another client holds its port) keeps the waits doubling.
  static constexpr Duration kGoodConnection = std::chrono::seconds(10);
  // RFC 2217: the longest data waits for the line's settings to be answered, and the
  // longest the first modem-state notice is waited for, from the connection on.
  static constexpr Duration kSetupWait = std::chrono::seconds(3);

  // One bounded connection attempt to `value` ("tcp://HOST:PORT" ...), nothing sent: empty
  // when it connects, else "ADDRESS: reason".
  static std::string try_connect(std::string_view value, Duration limit = kConnectTimeout);

  // Telnet and RFC 2217 codes used on the wire.
  static constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                                SE = 240;
  static constexpr std::uint8_t kBinary = 0, kSga = 3, kComPort = 44;

  NetSerialPort(IoLoop& loop, std::function<std::string(const std::string&)> device_for);
  ~NetSerialPort() override;

  bool is_open() const override { return open_; }
  bool cts() override;
  int in_buffer_count() override;
  void clear_in_buffer() override;
  int out_buffer_count() override;
  void clear_out_buffer() override;
  std::string read() override;
  void write(std::string_view bytes) override;
  std::size_t output_held() const override { return pending_.size() + wire_.size(); }
  std::string output_error() const override;
  bool paced() const override { return open_ && pacing_allowed(); }
  std::size_t output_room() override;
  Duration output_room_in() override;
  std::string connection_lost() const override { return connected_ ? std::string() : lost_; }
  int interruptions() const override { return drops_; }
  bool setting_up() const override;
  bool modem_state_known() const override;
  std::string setup_note() const override;
  int controller_restarts_seen() const override { return restarts_seen_; }
  std::string device_name() const override { return device_; }

  std::string open_error() const override { return open_error_; }
  const std::string& device() const { return device_; }
  bool connected() const { return connected_; }
  // The server agreed to COM Port Control (RFC 2217 only).
  bool com_port_agreed() const { return com_port_agreed_; }
  // Drops, reconnections so far, and the wait before the next attempt.
  int drops() const { return drops_; }
  int reconnects() const { return reconnects_; }
  Duration next_retry_delay() const { return retry_delay_; }

 protected:
  bool do_open() override;
  void do_close() override;
  void apply_dtr(bool on) override;
  void apply_rts(bool on) override;

 private:
  int connect_socket(std::string& error, bool wait);
  void connected_now();
  void drop(const std::string& why);
  void schedule_retry();
  void retry();
  void on_io(short revents);
  void pump();
  bool watching_input() const;
  void flush();
  void send_wire();
  void arm(int timer_fd, int watch, Duration after);
  void expired(int timer_fd, int watch);
  void take_input(const char* data, std::size_t n);
  void telnet_byte(std::uint8_t b);
  void negotiate(std::uint8_t verb, std::uint8_t option);
  void subnegotiation();
  void com_port_command(std::uint8_t command, std::string_view value);
  void send_settings();
  void settings_answered(std::uint8_t command, std::string_view value);
  void modem_state(std::uint8_t state);
  void setup_over();
  void refused_com_port();

  IoLoop& loop_;
  std::function<std::string(const std::string&)> device_for_;
  std::string device_;
  Address address_;
  std::string open_error_;
  bool open_ = false;
  bool connected_ = false;
  bool connecting_ = false;
  int fd_ = -1;
  int watch_ = -1;
  int pace_fd_ = -1, pace_watch_ = -1;
  int retry_fd_ = -1, retry_watch_ = -1;
  int setup_fd_ = -1, setup_watch_ = -1;
  LinePacer pacer_;
  std::string in_;       // received data characters, not yet read by the station
  std::string pending_;  // accepted data characters waiting for their time on the line
  std::string wire_;     // bytes for the socket (escaped, with Telnet commands)
  std::string lost_;     // why the connection dropped (while down)
  std::string send_error_;
  Duration retry_delay_ = kFirstRetry;
  int drops_ = 0, reconnects_ = 0;
  bool cts_ = true;  // until the server says otherwise
  bool com_port_agreed_ = false;
  // RFC 2217 set-up of the current connection.
  enum class Setup { Waiting, Confirmed, Refused, NoAnswer } setup_ = Setup::Waiting;
  unsigned answered_ = 0;  // bit n: SET command n (1 baud ... 4 stop size) answered
  std::uint32_t answered_baud_ = 0;
  bool setup_over_ = false;  // kSetupWait has passed, or the server refused the option
  bool modem_known_ = false;
  TimePoint connected_at_{};
  bool carried_data_ = false;
  ControllerPower power_;
  int restarts_seen_ = 0;
  // Telnet receive state.
  enum class Tn { Data, Iac, Verb, Sb, SbIac } tn_ = Tn::Data;
  std::uint8_t tn_verb_ = 0;
  std::string sb_;
};

}  // namespace shoplink
