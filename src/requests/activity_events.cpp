#include "requests/activity_events.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/safe_files.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "receive/site_names.hpp"
#include "transmit/shift_file.hpp"

namespace shoplink {

namespace {

std::string reason(int error) {
  return error ? std::strerror(error) : "write failed";
}

enum class Event { None, CycleStart, CycleFinish, Probe, ToolChangeStop, ToolChangeResume };

struct EventText {
  const char* record;  // in the port's activity file
  const char* shift;   // in the SABLE CARBON shift file (nullptr: always the activity file)
  int log_code;
  ActivityKind kind;
};

EventText text_of(Event e) {
  switch (e) {
    case Event::CycleStart:
      return {"Beginning of cycle :  ", "Beginning of cycle :  ", 27, ActivityKind::CycleStart};
    case Event::CycleFinish:
      return {"Finish of cycle :     ", "Finish of cycle :     ", 28, ActivityKind::CycleFinish};
    case Event::Probe:
      return {"Probed dimension ", "Beginning of 2nd operation :", 29, ActivityKind::Probe};
    case Event::ToolChangeStop:
      return {"Stop for tool change: ", nullptr, 37, ActivityKind::ToolChangeStop};
    case Event::ToolChangeResume:
      return {"Resume from tool change: ", nullptr, 38, ActivityKind::ToolChangeResume};
    case Event::None:
      break;
  }
  return {"", nullptr, 22, ActivityKind::CycleStart};
}

// The first test that applies decides: S, F, D anywhere; then E and C at SKYLARK.
Event event_of(const Station& s, const std::string& command, std::size_t& d_pos) {
  const PortSettings& port = s.cur();
  if (contains(command, std::string(1, port.S()))) return Event::CycleStart;
  if (contains(command, std::string(1, port.F()))) return Event::CycleFinish;
  if ((d_pos = instr(command, std::string(1, port.D()))) > 0) return Event::Probe;
  if (site::skylark(s)) {
    if (contains(command, "E")) return Event::ToolChangeStop;
    if (contains(command, "C")) return Event::ToolChangeResume;
  }
  return Event::None;
}

// Appends one line; on failure returns the reason (empty when written).
std::string append_record(Station& s, const std::string& file_text, const std::string& record) {
  int error = 0;
  if (!append_whole(s.paths.existing(file_text), record + "\r\n", error)) return reason(error);
  return {};
}

}  // namespace

std::string port_digits(int port) {
  std::string n = str(port);
  if (!n.empty() && n[0] == ' ') n.erase(0, 1);
  return std::string(n.size() < 2 ? 2 - n.size() : 0, '0') + n;
}

bool activity_event(Station& s, CommandParse& p) {
  std::size_t d_pos = 0;
  const Event e = event_of(s, p.command, d_pos);
  if (e == Event::None) return false;

  // Back to scanning after the settling pause.
  s.mode = Mode::Settling;
  s.mode_after_purge = 0;
  s.send_inhibit = 1;
  s.Timer10.start();

  if (e == Event::Probe) s.probe = mid(p.command, d_pos + 1);

  const EventText t = text_of(e);
  const std::string nn = port_digits(s.port);
  const LocalTime now = s.loop.clock().local_now();
  const std::string stamp = space(10) + date_text(now) + " " + time_text(now);
  std::string file, record;
  if (s.Sable_carbon && t.shift) {
    // The file of the shift the event happened in, even before a scan pass has noticed
    // the shift change.
    Sable_carbon_mod4(s, now);
    file = s.station_file(s.ShiftFile);
    record = "Port " + nn + ": " + t.shift + stamp;
  } else {
    file = p.receive_dirs[0] + "\\ACTIVITY." + nn;
    record = std::string(t.record) + (e == Event::Probe ? s.probe : std::string()) + stamp;
  }
  // A record that cannot be written is not lost without a trace: the event's own entry
  // keeps what happened (and a probed dimension), the next says where it should have gone.
  const std::string failed = append_record(s, file, record);
  log_event(s, t.log_code);
  report_activity(s, t.kind, e == Event::Probe ? s.probe : std::string());
  if (!failed.empty())
    log_text(s, "Activity record not written to " + s.paths.display(file) + " (" + failed + ")");
  return true;
}

}  // namespace shoplink
