#pragma once
// The general command characters: which request a command makes (T, R or P position, or a
// store identified by its own first line) and which send directory it names (N).
#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// Fills dir_number, dir_index, t_pos, r_pos, p_pos and with_id from `command`.
void find_command_markers(Station& s, CommandParse& p);

}  // namespace shoplink
