#include "station/port_scan.hpp"

#include <algorithm>

#include "base/control_chars.hpp"
#include "base/net_serial_port.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
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

// The headless service's exit status: 3 when a later try may find the controller (off,
// unplugged, not answering; the device absent or busy), 2 when line 1 or the host map names
// something that can never be opened as the host line, which no restart mends.
constexpr int kExitRetryLater = 3;
constexpr int kExitUnusable = 2;

// The message's lines on one log line.
std::string one_line(const std::string& message) {
  std::string out, line;
  auto take = [&] {
    std::string t = trim_trailing_blanks(line);
    t.erase(0, t.find_first_not_of(' '));
    if (!t.empty()) out += (out.empty() ? "" : " / ") + t;
    line.clear();
  };
  for (char c : message) {
    if (c == '\r' || c == '\n')
      take();
    else
      line += c;
  }
  take();
  return out;
}

void scan_failed(Station& s, const std::string& message, int status = kExitRetryLater) {
  // Logged as well: the headless service ends here, and its log must say why.
  log_text(s, "Start-up scan failed: " + one_line(message) +
                  (s.exit_on_scan_failure ? " - exit status " + std::to_string(status) : ""));
  s.dialogs.message_box("SHOPLINK error message", message, Icon::Warning);
  for (auto& code : s.codes.controller_codes) code.clear();
  s.line.set_handshaking(0);
  s.window.show_scan_failure(scan_failure_help_text());
  if (s.exit_on_scan_failure) {
    shutdown(s);
    s.end_program(status);
  }
}
// Why the host line did not open. The device or address and its reason come first when
// the line knows them ("tcp://devsrv1:4001: connection refused"): a network address is
// mended in HOSTMAP or at the device server, not by choosing another COM port.
std::string open_failure(const Station& s, const std::string& digit) {
  const std::string why = s.line.open_error();
  std::string text = "COM port #" + digit + " is not available\n";
  if (why.empty()) return text + "Edit line #1 of your DNCDATA file\nto use another COM port";
  text += why + "\n";
  const auto colon = why.find(": ");
  if (NetSerialPort::names_network(why.substr(0, colon)))
    return text + "Check the device server, or the COM" + digit + "\nentry of HOSTMAP (or --map)";
  return text + "Edit line #1 of your DNCDATA file\nor the COM" + digit + " entry of HOSTMAP";
}

// A line set up over its connection (RFC 2217) takes the line settings and reports CTS
// before the probe may go and CTS be read; the line bounds the wait itself (kSetupWait).
// What arrives meanwhile is discarded (mode 5). Logs how the set-up went; false when the
// station was stopped meanwhile.
bool wait_for_line_setup(Station& s) {
  if (!s.line.setting_up() && s.line.setup_note().empty()) return true;
  s.mode = Mode::Settling;
  while (s.line.setting_up() && !s.loop.quit_requested()) s.loop.yield(kForever);
  if (s.loop.quit_requested()) return false;
  s.rx_string.clear();
  if (const std::string note = s.line.setup_note(); !note.empty())
    log_text(s, "Host line COM" + s.line.port_number() + " " + s.line.device_name() + ": " + note);
  return true;
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
    scan_failed(s, open_failure(s, digit),
                s.line.settings_unusable() ? kExitUnusable : kExitRetryLater);
    return;
  }
  if (!wait_for_line_setup(s)) return;  // stopped meanwhile
  report_line_state(s, LineState::Opened, "COM" + digit + " " + rate);

  const bool cts = s.line.cts();
  s.window.set_cts_lamp(cts);
  if (!cts) {
    s.window.show_splash(false);
    std::string message = "\nPort controller off\nor not connected\nCTS signal off\n";
    // Over a network CTS is what the device server last reported, not a line of this PC
    // (or the connection is gone again).
    if (const std::string device = s.line.device_name(); NetSerialPort::names_network(device)) {
      const std::string lost = s.line.connection_lost();
      message +=
          device + ": " +
          (lost.empty() ? "the device server reports CTS off" : "connection lost (" + lost + ")") +
          "\n";
    }
    scan_failed(s, message);
    return;
  }

  probe_controller(s);
  if (s.loop.quit_requested()) return;  // stopped while probing: no verdict on the controller

  if (s.rx_string.empty()) {
    s.window.show_splash(false);
    scan_failed(s, "No response from\r\nport controller");
    return;
  }
  if (!probe_answered(s.rx_string)) {
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

  for (int n = 1; n <= NumPorts; ++n) s.window.set_text(Field::PortDisplay, std::to_string(n));
  s.string2send = port_setup_string(s);
  s.mode = Mode::Settling;
  s.xoff = 0;
  sendchar2(s, s.string2send);
  s.port = 1;
  s.Timer9.start();
}

std::string port_setup_string(const Station& s) {
  const auto& cc = s.codes.controller_codes;
  std::string out = cc[0];
  for (int n = 1; n <= NumPorts; ++n) {
    const PortSettings& p = s.ports[static_cast<std::size_t>(n)];
    const std::string& L = p.line_settings;
    const std::string upper = ucase(L);
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
  return out;
}

void probe_controller(Station& s) {
  s.mode = Mode::ControllerAnswer;
  s.rx_string.clear();
  sendchar2(s, "   " + s.codes.controller_codes[0]);
  collect_controller_answer(s);
}

void collect_controller_answer(Station& s) {
  s.mode = Mode::ControllerAnswer;
  s.Timer12.start();
  s.receiving = 1;
  while (s.receiving == 1 && !s.loop.quit_requested()) s.loop.yield(kForever);
}

bool probe_answered(const std::string& answer) {
  return contains(left(answer, 5), "*");
}

}  // namespace shoplink
