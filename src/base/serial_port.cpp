#include "base/serial_port.hpp"

#include "base/text.hpp"

namespace shoplink {

void SerialPort::set_option_flag(bool on) {
  option_flag_ = on;
  note(on ? "option=on" : "option=off");
}
void SerialPort::set_port_number(std::string digit) {
  note("port=" + digit);
  port_number_ = std::move(digit);
}
void SerialPort::set_settings(std::string text) {
  note("settings=" + text);
  settings_ = std::move(text);
}
void SerialPort::set_rx_buffer_size(int n) {
  rx_buffer_size_ = n;
  note("rxbuf=" + std::to_string(n));
}
void SerialPort::set_tx_buffer_size(int n) {
  tx_buffer_size_ = n;
  note("txbuf=" + std::to_string(n));
}
void SerialPort::set_handshaking(int mode) {
  handshaking_ = mode;
  note("handshaking=" + std::to_string(mode));
}
void SerialPort::set_rthreshold(int n) {
  rthreshold_ = n;
  note("rthreshold=" + std::to_string(n));
}
void SerialPort::set_input_len(int n) {
  // Traced only while closed (part of the opening order): once open it is switched per
  // character while a transfer reads handshakes.
  if (!is_open()) note("inputlen=" + std::to_string(n));
  input_len_ = n;
}
void SerialPort::set_dtr(bool on) {
  dtr_ = on;
  note(on ? "dtr=on" : "dtr=off");
  if (is_open()) apply_dtr(on);
}
void SerialPort::set_rts(bool on) {
  rts_ = on;
  note(on ? "rts=on" : "rts=off");
  if (is_open()) apply_rts(on);
}

bool SerialPort::open() {
  note("open");
  if (is_open()) return true;
  return do_open();
}

void SerialPort::close() {
  note("close");
  if (is_open()) do_close();
}

long SerialPort::settings_baud(std::string_view settings) {
  return static_cast<long>(val(settings));
}

}  // namespace shoplink
