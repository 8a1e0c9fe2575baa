#include "requests/command_interpreter.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "requests/activity_events.hpp"
#include "requests/command_markers.hpp"
#include "requests/directory_request.hpp"
#include "requests/file_request.hpp"
#include "requests/special_forms.hpp"
#include "requests/store_request.hpp"

namespace shoplink {

namespace {

// An ignored command leaves the mode as it was. The reception timer is armed again so that
// the station returns to scanning after the port's time-out even when no further character
// (the LF after a CR) comes to re-arm it.
void command_ignored(Station& s) {
  s.Timer6.set_enabled(true);
  log_event(s, 22);
}

// Nothing in the command was understood.
void command_not_understood(Station& s) {
  s.mode = Mode::Scanning;
  s.Filename.clear();
  s.Timer6.set_enabled(true);
  log_event(s, 22);
}

// True when the command was taken as a request or event.
bool dispatch(Station& s, CommandParse& p) {
  if (p.t_pos > 0) {
    hand_over_to_transmission(s);
    file_request(s, p);
    return true;
  }
  if (p.r_pos > 0) {
    store_request(s, p);
    return true;
  }
  if (p.p_pos > 0) {
    directory_request(s, p);
    return true;
  }
  if (activity_event(s, p)) return true;
  command_not_understood(s);
  return false;
}

}  // namespace

int split_directories(std::string_view text, std::array<std::string, kMaxDirEntries>& dirs) {
  int last = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    dirs[static_cast<std::size_t>(last)] = std::string(
        text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    if (comma == std::string_view::npos || last == kMaxDirEntries - 1) return last;
    start = comma + 1;
    ++last;
  }
}

void set_up_command(Station& s, CommandParse& p) {
  const PortSettings& port = s.cur();
  const DefaultFileType dft = s.config.default_file_type;
  s.filetype = 1;
  if (dft == DefaultFileType::PCNC) s.filetype = 3;
  if (dft == DefaultFileType::ASCII) s.filetype = 1;
  p.long_names = dft == DefaultFileType::WINDOWS;

  const std::string code = ucase(port.code_line);
  if (contains(code, "WINDOWS")) {
    s.filetype = 1;
    p.long_names = true;
  }
  if (contains(code, "DOS")) {
    s.filetype = 1;
    p.long_names = false;
  }
  p.plain32 = contains(port.code_line, "/32");
  s.probe.clear();

  s.AUTOPRINT = 0;
  if (const std::size_t at = instr(code, "/P"); at > 0) {
    s.AUTOPRINT = 1;
    const std::string copies = mid(code, at + 2, 3);
    const double n = val(copies);
    if (!copies.empty() && n > 1) s.AUTOPRINT = static_cast<std::int16_t>(round_int(n));
  }

  p.send_last = split_directories(port.send_dir, p.send_dirs);
  p.receive_last = split_directories(port.receive_dir, p.receive_dirs);
  p.multi_dir = contains(port.send_dir, ",") || contains(port.receive_dir, ",");

  s.G10R = 0;
  s.BURNY = 0;
  s.file_not_found = 0;
  s.Drip = 0;
  s.Asterisk = 0;
  s.BFD = "!FD";
  s.BFG = "!FG";
  s.BFQ = "!FQ";
  s.BQQ = "!QQ";
  p.command = s.rx_line;
}

void hand_over_to_transmission(Station& s) {
  s.mode = Mode::Settling;
  s.mode_after_purge = 1;
  s.send_inhibit = 1;
  s.rx_string.clear();
  s.Timer10.set_enabled(true);
}

void process_command(Station& s) {
  s.Timer13.stop();
  s.Timer3.set_interval(s.config.response_timeout_ms);
  CommandParse p;
  set_up_command(s, p);
  bool accepted = false;
  switch (apply_special_forms(s, p)) {
    case FormOutcome::Ignored:
      command_ignored(s);
      break;
    case FormOutcome::NotApplicable:
      find_command_markers(s, p);
      accepted = dispatch(s, p);
      break;
    case FormOutcome::Request:
      accepted = dispatch(s, p);
      break;
    case FormOutcome::Handled:
      accepted = true;
      break;
    case FormOutcome::Ended:
      // Not logged, but the port's silence must still lead back to scanning.
      s.Timer6.set_enabled(true);
      break;
  }
  // An accepted request owns the way back to scanning now, whatever mode it left: a return
  // to scanning still pending from the transfer or event before (Timer4, armed when that
  // settling ended) would otherwise cut it off, or restart the scan under it.
  if (accepted) s.Timer4.stop();
  s.rx_line.clear();
  s.Timer13.set_enabled(true);
  s.send_aborted = 0;
}

}  // namespace shoplink
