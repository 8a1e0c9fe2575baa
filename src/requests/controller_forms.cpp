#include "requests/controller_forms.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "requests/store_request.hpp"
#include "transmit/code_tables.hpp"
#include "transmit/reply_output.hpp"

namespace shoplink {

using namespace ctl;

namespace {

bool port_says(const Station& s, std::string_view word) {
  return contains(s.cur().code_line, word);
}

// A line the control sends ahead of its program: kept for the program's first line.
FormOutcome hold_first_line(Station& s, const CommandParse& p) {
  s.Stack = p.command;
  return FormOutcome::Ignored;
}

// Only the printable part of an EZTRAK field counts.
std::string printable(std::string_view text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) > 31) out += c;
  return out;
}

// The Burny reply names the program as the control asked for it.
std::string burny_reply_head(const Station& s) {
  return std::string(1, static_cast<char>(ESC)) + s.BFD + s.BURNYSTRING + "\r\n";
}

// The reply answers the control now. The hold the request has just put on character output
// is for the program that follows: the reply must not wait for the settling and then for an
// Xon that a Burny control never sends.
void send_burny_reply(Station& s, std::string reply) {
  code_convert(s, reply);
  const std::int16_t held = s.send_inhibit;
  s.send_inhibit = 0;
  send_reply(s, reply);
  s.send_inhibit = held;
}

}  // namespace

// The Lynx control answers the "ENTER FILE NAME:" prompt with the bare name.
FormOutcome lynx_file_name(Station& s, CommandParse& p) {
  if (!port_says(s, "LYNX") || !s.Lynx_request) return FormOutcome::NotApplicable;
  p.command = " " + p.command;
  p.t_pos = 1;
  s.Timer3.set_interval(kLynxXonWaitMs);
  s.Timer3.stop();
  s.Timer3.start();
  return FormOutcome::Request;
}

// EZTRAK: "9999" is chatter; a name, EOT and the first line are an upload of that name.
FormOutcome eztrak_form(Station& s, CommandParse& p) {
  if (!port_says(s, "EZTRAK")) return FormOutcome::NotApplicable;
  if (contains(p.command, "9999")) return FormOutcome::Ignored;
  const std::size_t eot = instr(p.command, std::string(1, static_cast<char>(EOT)));
  if (eot == 0) return FormOutcome::NotApplicable;
  p.program_name = printable(left(p.command, eot - 1));
  // Nothing to name the upload after: storing it as the bare extension would be a guess.
  if (p.program_name.empty()) return FormOutcome::Ignored;
  p.command = printable(mid(p.command, eot + 1));
  p.with_id = true;
  p.r_pos = 1;
  s.mode = Mode::Receiving;
  s.HSTR = p.receive_dirs[0];
  open_store_file(s, p);
  return FormOutcome::Handled;
}

// MHP: the request stands in "((" ... "))"; behind "))" the nearest T asks for a program,
// the nearest "," names an upload.
FormOutcome mhp_form(Station& s, CommandParse& p) {
  if (!port_says(s, "MHP")) return FormOutcome::NotApplicable;
  const std::size_t close = instr(p.command, "))");
  if (!contains(p.command, "((") || close == 0) return FormOutcome::Ignored;
  for (std::size_t i = close; i >= 1; --i) {
    const char c = p.command[i - 1];
    if (c == s.cur().T()) {
      p.t_pos = i;
      return FormOutcome::Request;
    }
    if (c == ',') {
      p.r_pos = i;
      p.with_id = true;
      return FormOutcome::Request;
    }
  }
  return FormOutcome::Ignored;
}

// EMCO sends its program header "%MPF1" on its own before the upload.
FormOutcome emco_held_first_line(Station& s, CommandParse& p) {
  if (!port_says(s, "EMCO") || !starts_with(p.command, "%MPF1")) return FormOutcome::NotApplicable;
  return hold_first_line(s, p);
}

// CIN850 sends its ":" program line on its own before the upload.
FormOutcome cin850_held_first_line(Station& s, CommandParse& p) {
  if (!port_says(s, "CIN850") || !contains(p.command, ":")) return FormOutcome::NotApplicable;
  return hold_first_line(s, p);
}

// OKUMA's "Z.MIN" lines are the control's own, not requests.
FormOutcome okuma_z_min(Station& s, CommandParse& p) {
  if (!port_says(s, "OKUMA") || !contains(p.command, "Z.MIN")) return FormOutcome::NotApplicable;
  return FormOutcome::Ignored;
}

// G200 sends its "%MPF" header on its own before the upload.
FormOutcome g200_held_first_line(Station& s, CommandParse& p) {
  if (!port_says(s, "G200") || !starts_with(p.command, "%MPF")) return FormOutcome::NotApplicable;
  return hold_first_line(s, p);
}

// The ANILAM control's banner.
FormOutcome anilam_electronics(Station&, CommandParse& p) {
  if (!contains(p.command, "ANILAM ELECTRONICS")) return FormOutcome::NotApplicable;
  return FormOutcome::Ignored;
}

// "&HE:" is a control's echo, never a request.
FormOutcome hardware_echo(Station&, CommandParse& p) {
  if (!contains(p.command, "&HE:")) return FormOutcome::NotApplicable;
  return FormOutcome::Ignored;
}

namespace {

// A Burny CLINK command: `marker` and the name after it; the request sits two characters on.
FormOutcome burny_request(Station& s, CommandParse& p, const std::string& marker,
                          std::size_t CommandParse::*position) {
  const std::size_t at = instr(p.command, marker);
  if (at == 0) return FormOutcome::NotApplicable;
  p.*position = at + 2;
  s.BURNY = 1;
  s.BURNYSTRING = mid(p.command, at + 3);
  return FormOutcome::Request;
}

}  // namespace

// Burny CLINK "!FD" name: the program follows at once.
FormOutcome burny_upload(Station& s, CommandParse& p) {
  return burny_request(s, p, s.BFD, &CommandParse::r_pos);
}

// Burny CLINK "!FG" name: a download; the name's letters are never command characters.
FormOutcome burny_download(Station& s, CommandParse& p) {
  return burny_request(s, p, s.BFG, &CommandParse::t_pos);
}

// MAZAK announces its own programs: O0001 is logged as ignored, any other O1... is dropped
// without a word.
FormOutcome mazak_program_one(Station& s, CommandParse& p) {
  if (!port_says(s, "MAZAK")) return FormOutcome::NotApplicable;
  if (contains(p.command, "O0001")) return FormOutcome::Ignored;
  if (contains(p.command, "O1")) return FormOutcome::Ended;
  return FormOutcome::NotApplicable;
}

// OKUMA's "$" program line is a request only where the port takes "$" as a name character.
FormOutcome okuma_dollar_name(Station& s, CommandParse& p) {
  if (!port_says(s, "OKUMA") || contains(s.cur().name_chars, "$"))
    return FormOutcome::NotApplicable;
  if (!contains(p.command, "$")) return FormOutcome::NotApplicable;
  return FormOutcome::Ignored;
}

bool okuma_name_character(const PortSettings& port, CommandParse& p, std::size_t pos) {
  if (!contains(port.code_line, "OKUMA") || contains(p.command, "Z.MIN")) return false;
  p.t_pos = 0;
  p.p_pos = 0;
  p.r_pos = pos;
  p.with_id = true;
  return true;
}

bool tosnuc_port(const PortSettings& port) {
  return contains(ucase(port.code_line), "TOSNUC");
}

void tosnuc_first_line(std::string& line) {
  if (starts_with(line, "$")) line[0] = 'O';
}

bool haas_port(const PortSettings& port) {
  return contains(port.code_line, "HAAS");
}

void haas_program_number(std::string& name) {
  if (name.size() > 4) name = mid(name, 2, 4);
}

bool ge_port(const PortSettings& port) {
  return contains(port.code_line, "GE") || contains(port.code_line, "ge");
}

void ge_padded_name(std::string& name) {
  while (name.size() < 4) name += '0';
}

bool fagor_port(const PortSettings& port) {
  return contains(port.code_line, "FAGOR");
}

std::string fagor_numbered(int k, const std::string& line) {
  return "N" + std::to_string(k) + " " + line;
}

void burny_download_reply(Station& s) {
  send_burny_reply(s, burny_reply_head(s));
  if (s.send_aborted == 1) return;
  s.Timer11.set_interval(kBurnySendDelayMs);
  s.Timer11.start();
}

void burny_file_missing(Station& s) {
  send_burny_reply(s, burny_reply_head(s) + static_cast<char>(SUB));
  if (s.send_aborted == 1) return;
  s.mode = Mode::Settling;
  s.mode_after_purge = Mode::Scanning;
  s.send_inhibit = 1;
  s.Timer10.set_enabled(true);
  log_event(s, 17);
}

}  // namespace shoplink
