#include "station/line_display.hpp"

#include "core/station.hpp"

namespace shoplink {

namespace {

std::string line_name(const Station& s) {
  return "Host line COM" + s.line.port_number();
}

// Why the line is down, in the words of the host line watch; empty while it is up.
std::string line_down_text(Station& s, LineLamp lamp) {
  if (lamp == LineLamp::Reconnecting)
    return line_name(s) + " connection lost (" + s.host_line_lost + ") - reconnecting";
  if (lamp != LineLamp::Dead) return {};
  const std::string error = s.line.is_open() ? s.line.output_error() : std::string();
  return line_name(s) + " dead - output not taken" + (error.empty() ? "" : " (" + error + ")");
}

LineLamp line_lamp(Station& s) {
  if (!s.host_line_lost.empty()) return LineLamp::Reconnecting;
  // A device that refuses output is known dead at once; one that only holds it, once the
  // watch has waited out a machine's longest hold.
  if (s.host_line_reported || (s.line.is_open() && !s.line.output_error().empty()))
    return LineLamp::Dead;
  return s.line.is_open() && s.line.cts() ? LineLamp::CtsOn : LineLamp::CtsOff;
}

}  // namespace

void show_line_state(Station& s) {
  const LineLamp lamp = line_lamp(s);
  s.window.set_line_lamp(lamp);
  // Scanning over a line that is down serves no one: the status must not say it scans.
  const std::string down = line_down_text(s, lamp);
  if (!down.empty() && s.mode == Mode::Scanning && s.window.status() != down)
    s.window.set_status(down);
}

}  // namespace shoplink
