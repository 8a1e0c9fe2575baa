#pragma once
// The host line as the station uses it: the operation set of the original comm control.
// Settings are stored here; each backend applies them at open (and DTR/RTS at once when
// open). Every setting is also noted in a trace so tests can check the opening order.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.hpp"

namespace shoplink {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Output a device has stopped taking is held up to this much by every backend; beyond it
  // is dropped, so a hung-up line cannot grow the buffer for ever.
  static constexpr std::size_t kDeadOutputLimit = 64 * 1024;
  // The comm event a line raises when it sees the port controller start again after a
  // power loss (its DSR went off and came back): the controller has forgotten its set-up
  // and its selected port. Raised at once, from the call that saw it.
  static constexpr int kControllerRestartEvent = 1001;

  void set_option_flag(bool on);
  void set_port_number(std::string digit);
  void set_settings(std::string text);  // "9600,N,8,1"
  void set_rx_buffer_size(int n);
  void set_tx_buffer_size(int n);
  void set_handshaking(int mode);  // 0 = none: the station does its own Xon/Xoff and CTS
  void set_rthreshold(int n);
  void set_input_len(int n);  // 0 = read returns all waiting characters, 1 = one per read
  void set_dtr(bool on);
  void set_rts(bool on);

  // Port open; false when the device is absent or refuses.
  bool open();
  void close();
  // After a failed open: true when what the line was told to open can never work, however
  // often it is tried (no device named, a rate the line cannot take, a device that is not a
  // serial line, an address that does not read as one); false when the device is absent,
  // busy or refused just now and may be there on the next try.
  virtual bool settings_unusable() const { return false; }
  virtual bool is_open() const = 0;
  // Why the last open failed, naming the device or address and the reason
  // ("tcp://devsrv1:4001: connection refused"); empty after a good open.
  virtual std::string open_error() const { return {}; }
  // The device or address the line reaches ("/dev/ttyUSB0", "rfc2217://devsrv1:4001"), once
  // it has been opened; empty where it has none.
  virtual std::string device_name() const { return {}; }
  // A line set up over its connection (a device server speaking RFC 2217): true while the
  // settings are not confirmed yet; data written meanwhile waits for them.
  virtual bool setting_up() const { return false; }
  // CTS has been reported at least once (a line that reads it directly knows it at once).
  virtual bool modem_state_known() const { return true; }
  // How the line's set-up went, for the log; empty where there is none to report.
  virtual std::string setup_note() const { return {}; }
  // Restarts of the port controller seen on this line (see kControllerRestartEvent); 0 on
  // lines that cannot see them (no DSR: a pseudo-terminal, a raw TCP device server).
  virtual int controller_restarts_seen() const { return 0; }

  virtual bool cts() = 0;
  virtual int in_buffer_count() = 0;
  virtual void clear_in_buffer() = 0;  // "characters waiting = 0"
  virtual int out_buffer_count() = 0;
  virtual void clear_out_buffer() = 0;  // "characters unsent = 0"
  // The waiting characters (one under input length 1); empty when none.
  virtual std::string read() = 0;
  // Every byte goes out, 0-255, none dropped while the device takes output.
  virtual void write(std::string_view bytes) = 0;
  // Output accepted by write() that the device has not taken yet (held by this process;
  // what the device's own buffer holds is not counted).
  virtual std::size_t output_held() const { return 0; }
  // Why the device last refused output (its error text); empty while output goes through.
  virtual std::string output_error() const { return {}; }
  // A line that reconnects by itself (a network device server): why its connection is
  // down, while it is; empty while connected and for lines that cannot drop.
  virtual std::string connection_lost() const { return {}; }
  // How often the connection to the port controller has broken since the line was made
  // (a network line's drops); 0 for lines that cannot drop. What went either way across a
  // break may be missing, so a transfer or upload that spans one did not arrive whole.
  virtual int interruptions() const { return 0; }

  // Pacing at the line rate where the device cannot report its queue (see LinePacer).
  // On by default; off only for tests and benchmarks that want the device's full speed.
  void set_pacing_allowed(bool on) { pacing_allowed_ = on; }
  bool pacing_allowed() const { return pacing_allowed_; }
  // The open line paces its output itself.
  virtual bool paced() const { return false; }
  // How many characters may go out now under the one-at-a-time rule: one when nothing is
  // unsent. A paced line takes a burst less what is still on the line (LinePacer).
  virtual std::size_t output_room() { return out_buffer_count() == 0 ? 1 : 0; }
  // How long until a whole burst may go (the line has sent it all); zero when it cannot tell.
  virtual Duration output_room_in() { return Duration::zero(); }

  // The comm event: the handler receives the event code.
  void set_comm_handler(std::function<void(int)> h) { comm_handler_ = std::move(h); }

  bool option_flag() const { return option_flag_; }
  const std::string& port_number() const { return port_number_; }
  const std::string& settings() const { return settings_; }
  int rx_buffer_size() const { return rx_buffer_size_; }
  int tx_buffer_size() const { return tx_buffer_size_; }
  int handshaking() const { return handshaking_; }
  int rthreshold() const { return rthreshold_; }
  int input_len() const { return input_len_; }
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }
  const std::vector<std::string>& trace() const { return trace_; }

  // Baud rate of "9600,N,8,1" (0 when unreadable).
  static long settings_baud(std::string_view settings);

 protected:
  virtual bool do_open() = 0;
  virtual void do_close() = 0;
  virtual void apply_dtr(bool) {}
  virtual void apply_rts(bool) {}
  void raise_comm_event(int code) {
    if (comm_handler_) comm_handler_(code);
  }

 private:
  // Bounded: DTR and RTS toggle for ever during flow control.
  void note(std::string s) {
    if (trace_.size() < 1000) trace_.push_back(std::move(s));
  }
  bool option_flag_ = false;
  std::string port_number_;
  std::string settings_ = "9600,N,8,1";
  int rx_buffer_size_ = 4096, tx_buffer_size_ = 4096, handshaking_ = 0, rthreshold_ = 0;
  int input_len_ = 0;
  bool dtr_ = false, rts_ = false;
  bool pacing_allowed_ = true;
  std::vector<std::string> trace_;
  std::function<void(int)> comm_handler_;
};

}  // namespace shoplink
