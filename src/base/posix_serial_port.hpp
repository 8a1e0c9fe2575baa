#pragma once
// The host line on a POSIX terminal device: a real serial port or a pseudo-terminal.
// Raw 8N1 through termios, FIONREAD/TIOCOUTQ for the counts, tcflush to discard and the
// modem-line ioctls for CTS, DTR and RTS, and DSR for the port controller's power
// (ControllerPower). Pseudo-terminals have no modem lines: there CTS reads as on, DTR/RTS
// changes do nothing and a restart of the controller cannot be seen.
//
// Output is never dropped: what the device does not take at once (EAGAIN, short writes)
// waits in the port's transmit buffer and is written as the device drains, from the
// loop. Those bytes count as "unsent", so the station's own waits see them.
//
// A device without modem lines (a pseudo-terminal, also one bridged to a network by
// socat) has no UART queue for TIOCOUTQ to report: there output is paced at the line's
// rate (LinePacer), released from a timerfd the loop watches.
//
// Once the device has said nothing is waiting, the loop watches it for input, and until the
// loop sees some the count is 0 without asking the device again: a paced line asks before
// every burst, and the poll the station slept in has already told.
#include <functional>
#include <string>

#include "base/controller_power.hpp"
#include "base/io_loop.hpp"
#include "base/line_pacer.hpp"
#include "base/serial_port.hpp"

namespace shoplink {

class PosixSerialPort final : public SerialPort {
 public:
  // `device_for` turns the port number ("1") into a device path ("/dev/ttyS0").
  PosixSerialPort(IoLoop& loop, std::function<std::string(const std::string&)> device_for);
  ~PosixSerialPort() override;

  bool is_open() const override { return fd_ >= 0; }
  bool cts() override;
  int in_buffer_count() override;
  void clear_in_buffer() override;
  int out_buffer_count() override;
  void clear_out_buffer() override;
  std::string read() override;
  void write(std::string_view bytes) override;
  std::size_t output_held() const override { return pending_.size() - pending_head_; }
  std::string output_error() const override { return output_error_; }
  bool paced() const override { return paced_; }
  std::size_t output_room() override;
  Duration output_room_in() override;

  // A device that refuses output, or has taken nothing for this long, has stopped taking it:
  // it then holds at most kDeadOutputLimit. A device that takes output, however slowly,
  // loses nothing.
  static constexpr Duration kOutputStall = std::chrono::seconds(30);

  // A rate termios can set on the device (110 ... 115200).
  static bool rate_supported(long baud);

  const std::string& device() const { return device_; }
  // Why the last open failed (for the operator's message), empty after a good open.
  std::string open_error() const override { return open_error_; }
  std::string device_name() const override { return device_; }
  int controller_restarts_seen() const override { return restarts_seen_; }
  bool settings_unusable() const override { return settings_unusable_; }

 protected:
  bool do_open() override;
  void do_close() override;
  void apply_dtr(bool on) override;
  void apply_rts(bool on) override;

 private:
  void flush_pending();
  void watch(bool for_output);
  void input_seen(short revents);
  int waiting_now();  // FIONREAD; -1 when the device cannot say
  void set_modem_line(int bit, bool on);
  void arm_pacing_timer();

  IoLoop& loop_;
  std::function<std::string(const std::string&)> device_for_;
  std::string device_;
  std::string open_error_;
  bool settings_unusable_ = false;
  int fd_ = -1;
  int watch_ = -1;
  bool watch_output_ = false;  // the watch waits for room for pending_
  // The device said nothing is waiting and the loop has seen no input since.
  bool input_none_ = false;
  bool hung_up_ = false;  // the loop saw a hang-up: the device is asked every time
  std::string pending_;   // accepted, not yet taken by the device
  std::size_t pending_head_ = 0;
  std::string output_error_;
  bool no_modem_lines_ = false;  // a pseudo-terminal
  bool paced_ = false;
  LinePacer pacer_;
  int timer_fd_ = -1;  // wakes the loop when the next paced character is due
  int timer_watch_ = -1;
  TimePoint last_taken_{};  // when the device last took output, or had none waiting
  ControllerPower power_;   // DSR, read with CTS
  int restarts_seen_ = 0;
};

}  // namespace shoplink
