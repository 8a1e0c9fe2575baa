#pragma once
// Command forms of particular customer sites, recognised before the general command
// characters (each a check of the special forms' fixed order), and the site's own choice of
// receive directory while the command characters are read.
#include "requests/command_parse.hpp"
#include "requests/special_forms.hpp"

namespace shoplink {

class Station;

// KESSLER SUPPLY: "OPEN FILE" at the start of the command announces an upload that carries
// its own first line; the reception treats it specially (Asterisk).
FormOutcome kessler_supply_open_file(Station& s, CommandParse& p);

// GLENMORE METAL: "PROG,999999" and "PROG, 999999" are cut out with the character after
// them; then "PROG, " or "PROG," makes a store with ID whose comment follows the comma.
FormOutcome glenmore_metal_prog_form(Station& s, CommandParse& p);

// ASHCROFT SCREW, on MURATA ports: "OP1/2", "OP2/2", "HEAD1" and "HEAD2" in the command
// (spaces ignored) choose receive directory 0 to 3; the last of these tests that hits wins.
void ashcroft_screw_receive_index(const Station& s, CommandParse& p);

}  // namespace shoplink
