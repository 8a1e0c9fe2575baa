#include "requests/command_markers.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
#include "requests/controller_forms.hpp"
#include "requests/site_forms.hpp"

namespace shoplink {

namespace {

// A directory number far out of range stays out of range without overflowing.
int directory_number(const std::string& text) {
  const double v = val(text);
  if (v > kMaxDirEntries || v < -1) return -1;
  return static_cast<int>(round_int(v));
}

void directory_number_marker(const PortSettings& port, CommandParse& p) {
  if (!p.multi_dir) return;
  const std::string& c = p.command;
  for (std::size_t i = 1; i <= c.size(); ++i) {
    if (c[i - 1] == port.N()) {
      p.dir_number = directory_number(mid(c, i + 1));
      p.dir_index = p.dir_number;
    }
  }
}

// The first position holding the T, R or P character decides.
void first_marker(const PortSettings& port, CommandParse& p) {
  const std::string& c = p.command;
  for (std::size_t i = 1; i <= c.size(); ++i) {
    const char ch = c[i - 1];
    if (ch == port.T()) p.t_pos = i;
    if (ch == port.R()) p.r_pos = i;
    if (ch == port.P()) p.p_pos = i;
    if (p.t_pos || p.r_pos || p.p_pos) return;
  }
}

void range_checks(CommandParse& p) {
  if (p.dir_number > p.send_last || p.dir_number < 0) {
    p.dir_number = 0;
    p.dir_index = 0;
  }
  if (p.receive_index > p.receive_last || p.receive_index < 0) p.receive_index = 0;
}

void clear_markers_after(CommandParse& p, std::size_t pos) {
  if (p.t_pos > pos) p.t_pos = 0;
  if (p.r_pos > pos) p.r_pos = 0;
  if (p.p_pos > pos) p.p_pos = 0;
}

// Command characters inside a path (C:\TEMP\...) are part of the name.
void path_rule(const PortSettings& port, CommandParse& p) {
  const std::string drive_path{port.drive_char(), port.path_char()};
  if (const std::size_t q = instr(p.command, drive_path); q > 0) clear_markers_after(p, q);
}

// Command characters inside a comment do not count.
void parentheses_rule(const PortSettings& port, CommandParse& p) {
  if (p.plain32 || port.paren_flag) return;
  const std::size_t open = instr(p.command, "(");
  if (open == 0) return;
  std::size_t close = instr(p.command, ")");
  if (close == 0) close = p.command.size() + 1;
  auto inside = [&](std::size_t pos) { return pos > open && pos < close; };
  if (inside(p.t_pos)) p.t_pos = 0;
  if (inside(p.r_pos)) p.r_pos = 0;
  if (inside(p.p_pos)) p.p_pos = 0;
}

// A command without any marker that holds one of the port's name characters is the first
// line of an upload: a store identified by that line.
void name_character_scan(const PortSettings& port, CommandParse& p) {
  const std::string& c = p.command;
  if (contains(c, "\x12") || contains(c, "\xDA")) return;
  const bool paren_is_name = contains(port.name_chars, "(") || port.paren_flag;
  for (std::size_t i = 1; i <= c.size(); ++i) {
    const char ch = c[i - 1];
    if (ch == '(' && !paren_is_name) return;
    if (port.name_chars.find(ch) == std::string::npos) continue;
    // The first name character names the upload; what follows is part of its name.
    if (okuma_name_character(port, p, i)) return;
    if (p.t_pos == 0 && p.p_pos == 0 && p.r_pos == 0) {
      p.r_pos = i;
      p.with_id = true;
    }
  }
}

}  // namespace

void find_command_markers(Station& s, CommandParse& p) {
  const PortSettings& port = s.cur();
  directory_number_marker(port, p);
  first_marker(port, p);
  ashcroft_screw_receive_index(s, p);
  range_checks(p);
  path_rule(port, p);
  parentheses_rule(port, p);
  name_character_scan(port, p);
}

}  // namespace shoplink
