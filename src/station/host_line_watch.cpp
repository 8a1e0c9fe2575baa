#include "station/host_line_watch.hpp"

#include "core/station.hpp"
#include "log/system_log.hpp"

namespace shoplink {

namespace {
std::string line_name(const Station& s) {
  return "Host line COM" + s.line.port_number();
}
}  // namespace

void watch_host_line(Station& s) {
  const std::string error = s.line.is_open() ? s.line.output_error() : std::string();
  const bool waiting = s.line.is_open() && (s.line.output_held() > 0 || !error.empty());
  if (!waiting) {
    s.host_line_waiting_since.reset();
    if (s.host_line_reported) {
      s.host_line_reported = false;
      log_text(s, line_name(s) + " takes output again");
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
}

}  // namespace shoplink
