#include "station/port_scan.hpp"

#include <algorithm>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "station/startup.hpp"
#include "ui/scan_failure.hpp"

namespace shoplink {

using namespace ctl;

namespace {
// Digit sent for a port whose rate the controller does not know: its fastest rate, 9600.
// The string must carry a digit there, or the controller would read the next parameter
// character as the rate.
constexpr int kUnknownRateCode = 8;
// The longest character delay (CD=) taken: about 10 s a character.
constexpr int kMaxCharDelay = 10000;

void scan_failed(Station& s, const std::string& message) {
  s.dialogs.message_box("SHOPLINK error message", message, Icon::Warning);
  for (auto& code : s.codes.controller_codes) code.clear();
  s.line.set_handshaking(0);
  s.window.show_scan_failure(scan_failure_help_text());
  if (s.exit_on_scan_failure) {
    shutdown(s);
    s.end_program(3);
  }
}
}  // namespace

std::string machine_name_of(const std::string& line_settings) {
  const std::string& L = line_settings;
  const auto open = instr(L, "(");
  if (open == 0) return {};
  const auto close = instr(L, ")", open + 1);
  return close > 0 ? mid(L, open + 1, close - open - 1) : mid(L, open + 1);
}

int baud_code_for(double rate) {
  switch (round_int(rate)) {
    case 110:
      return 1;
    case 135:
      return 2;
    case 300:
      return 3;
    case 600:
      return 4;
    case 1200:
      return 5;
    case 2400:
      return 6;
    case 4800:
      return 7;
    case 9600:
      return 8;
    default:
      return 0;
  }
}

void Timer1_Timer(Station& s) {
  s.Timer1.stop();
  s.stopscanning = 1;
  s.Timer2.start();
  scan_port_controller(s);
}

void scan_port_controller(Station& s) {
  auto& cc = s.codes.controller_codes;
  const std::string& host = s.config.host_port;
  const std::string digit = mid(host, 4, 1);
  const std::string rate = mid(host, 6, 4);
  if (int code = baud_code_for(val(rate))) s.ports[0].baud_code = code;

  s.line.set_option_flag(true);
  s.line.set_port_number(digit);
  s.line.set_settings(rate + ",N,8,1");
  s.line.set_rx_buffer_size(4096);
  s.line.set_tx_buffer_size(4096);
  s.line.set_handshaking(0);
  s.line.set_rthreshold(2048);
  s.line.set_rts(true);
  s.line.set_dtr(true);
  s.line.set_input_len(0);
  if (!s.line.open()) {
    scan_failed(s, "COM port #" + digit +
                       " is not available\nEdit line #1 of your DNCDATA file\n"
                       "to use another COM port");
    return;
  }
  report_line_state(s, LineState::Opened, "COM" + digit + " " + rate);

  const bool cts = s.line.cts();
  s.window.set_cts_lamp(cts);
  if (!cts) {
    s.window.show_splash(false);
    scan_failed(s, "\nPort controller off\nor not connected\nCTS signal off\n");
    return;
  }

  s.mode = Mode::ControllerAnswer;
  sendchar2(s, "   " + cc[0]);
  s.Timer12.start();
  s.receiving = 1;
  while (s.receiving == 1 && !s.loop.quit_requested()) s.loop.yield(kForever);
  if (s.loop.quit_requested()) return;  // stopped while probing: no verdict on the controller

  if (s.rx_string.empty()) {
    s.window.show_splash(false);
    scan_failed(s, "No response from\r\nport controller");
    return;
  }
  if (!contains(left(s.rx_string, 5), "*")) {
    s.window.show_splash(false);
    scan_failed(s, "Incorrect response from\r\nport controller");
    return;
  }
  s.mode = Mode::Scanning;
  s.rx_string.clear();

  for (int n = 1; n <= NumPorts; ++n) {
    PortSettings& p = s.ports[static_cast<std::size_t>(n)];
    const std::string& L = p.line_settings;
    if (contains(L, "(")) p.machine_name = machine_name_of(L);
    if (int code = baud_code_for(val(L))) {
      p.baud_code = code;
      if (auto cd = instr(L, "CD="); cd > 0) {
        // About CD ms a character; beyond the clamp the pause arithmetic would overflow.
        const double delay = std::clamp(val(mid(L, cd + 3)), 0.0, double(kMaxCharDelay));
        p.char_delay = std::min(p.char_delay + static_cast<int>(delay), kMaxCharDelay);
      }
    }
  }

  std::string& out = s.string2send;
  out = cc[0];
  for (int n = 1; n <= NumPorts; ++n) {
    const PortSettings& p = s.ports[static_cast<std::size_t>(n)];
    const std::string& L = p.line_settings;
    const std::string upper = ucase(L);
    s.window.set_text(Field::PortDisplay, std::to_string(n));
    out += cc[static_cast<std::size_t>(n)];
    out += cc[static_cast<std::size_t>(n)];
    out += DC4;
    out += static_cast<char>(64 + n);
    out += "2" + std::to_string(p.baud_code ? p.baud_code : kUnknownRateCode);
    out += contains(upper, "/E") ? "33" : "34";
    out += contains(L, "/2") || p.baud_code == 1 ? "43" : "41";
    out += contains(upper, "/E") ? "52" : "51";
    out += "1";
  }
  out += cc[1];
  out += cc[9];
  s.mode = Mode::Settling;
  s.xoff = 0;
  sendchar2(s, out);
  s.port = 1;
  s.Timer9.start();
}

}  // namespace shoplink
