#pragma once
// What each kind of machine control sends when its operator asks for a program, and the few
// rules that make the station speak its dialect. The command forms are checks of the
// interpreter's special-form table; the later rules are called where the request needs them.
#include <string>

#include "requests/command_parse.hpp"
#include "requests/special_forms.hpp"

namespace shoplink {

class Station;
struct PortSettings;

// The Lynx control waits for "*" and never sends Xon: its wait is short.
inline constexpr int kLynxXonWaitMs = 1000;
// The Burny control wants its "!FD" reply to settle before the program follows.
inline constexpr int kBurnySendDelayMs = 1200;

// Command forms, in the interpreter's order (the port's ignore text stands between the CIN850
// and the "Z.MIN" forms).
FormOutcome lynx_file_name(Station& s, CommandParse& p);
FormOutcome eztrak_form(Station& s, CommandParse& p);
FormOutcome mhp_form(Station& s, CommandParse& p);
FormOutcome emco_held_first_line(Station& s, CommandParse& p);
FormOutcome cin850_held_first_line(Station& s, CommandParse& p);
FormOutcome okuma_z_min(Station& s, CommandParse& p);
FormOutcome g200_held_first_line(Station& s, CommandParse& p);
FormOutcome anilam_electronics(Station& s, CommandParse& p);
FormOutcome hardware_echo(Station& s, CommandParse& p);
FormOutcome burny_upload(Station& s, CommandParse& p);
FormOutcome burny_download(Station& s, CommandParse& p);
FormOutcome mazak_program_one(Station& s, CommandParse& p);
FormOutcome okuma_dollar_name(Station& s, CommandParse& p);

// The OKUMA name-character scan: at a name character the command is the first line of an
// upload, whatever command character came before; not for a "Z.MIN" command. True when it
// took the position.
bool okuma_name_character(const PortSettings& port, CommandParse& p, std::size_t pos);

// Rules that act later in the request.
// TOSNUC: a first line beginning "$" is written with "O" in its place.
bool tosnuc_port(const PortSettings& port);
void tosnuc_first_line(std::string& line);
// HAAS: a name of more than four characters loses its first and keeps the next four.
bool haas_port(const PortSettings& port);
void haas_program_number(std::string& name);
// GE: the name is padded with "0" to four characters.
bool ge_port(const PortSettings& port);
void ge_padded_name(std::string& name);
// FAGOR: listing lines are numbered "N1", "N2" ...
bool fagor_port(const PortSettings& port);
std::string fagor_numbered(int k, const std::string& line);

// Burny CLINK answers to a download request: the file follows the "!FD" reply after the
// send delay, or an empty file (SUB) says that it is missing.
void burny_download_reply(Station& s);
void burny_file_missing(Station& s);

}  // namespace shoplink
