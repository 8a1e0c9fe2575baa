#include "station/host_line_watch.hpp"

#include "base/control_chars.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/transfer_timers.hpp"

namespace shoplink {

namespace {
std::string line_name(const Station& s) {
  return "Host line COM" + s.line.port_number();
}
}  // namespace

void watch_host_line(Station& s) {
  const std::string lost = s.line.is_open() ? s.line.connection_lost() : std::string();
  // A new connection still being set up (RFC 2217) is not back yet: nothing goes before
  // the device server has taken the line settings.
  if (lost.empty() && !s.host_line_lost.empty() && s.line.setting_up()) return;
  if (lost != s.host_line_lost) {
    const bool back = lost.empty();
    const bool newly = s.host_line_lost.empty();
    s.host_line_lost = lost;
    if (back) {
      const std::string text = line_name(s) + " connected again";
      s.window.set_status(text);
      log_text(s, text);
      if (const std::string note = s.line.setup_note(); !note.empty())
        log_text(s, line_name(s) + " " + s.line.device_name() + ": " + note);
      report_line_state(s, LineState::Reconnected);
      // A transfer the drop cut short left its rest in the controller's buffer for the
      // selected machine: clear it, as the end of a stalled transfer does.
      sendchar2(s, std::string{ctl::DC4, 'Q'});
    } else if (newly) {
      const std::string text = line_name(s) + " connection lost (" + lost + ") - reconnecting";
      log_text(s, text);
      report_line_state(s, LineState::Lost, lost);
      // The characters in flight went with the connection: a transfer resumed afterwards
      // would leave a hole in the machine's program, so it ends here as a stall does.
      if (s.sending == 1 && s.mode == Mode::Sending) Timer3_Timer(s);
      s.window.set_status(text);
    }
  }
  // The dead-output watch below is about a connected line.
  if (!s.host_line_lost.empty()) {
    s.host_line_waiting_since.reset();
    return;
  }
  const std::string error = s.line.is_open() ? s.line.output_error() : std::string();
  const bool waiting = s.line.is_open() && (s.line.output_held() > 0 || !error.empty());
  if (!waiting) {
    s.host_line_waiting_since.reset();
    if (s.host_line_reported) {
      s.host_line_reported = false;
      log_text(s, line_name(s) + " takes output again");
      report_line_state(s, LineState::Back);
    }
    return;
  }
  const TimePoint now = s.loop.now();
  if (!s.host_line_waiting_since) s.host_line_waiting_since = now;
  if (s.host_line_reported || now - *s.host_line_waiting_since < kHostLineDeadAfter) return;
  s.host_line_reported = true;
  std::string text = line_name(s) + " dead - output not taken";
  if (!error.empty()) text += " (" + error + ")";
  s.window.set_status(text);
  log_text(s, text);
  report_line_state(s, LineState::Dead, error);
}

}  // namespace shoplink
