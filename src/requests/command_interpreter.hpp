#pragma once
// The command interpreter: one captured command (rx_line) becomes an action on the
// requesting port, or is ignored.
#include <array>
#include <string>
#include <string_view>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// Interprets rx_line for the current port. On every way out rx_line is cleared, the receive
// poll runs again and send_aborted is cleared.
void process_command(Station& s);

// The request is accepted: after the settling timer the transmission of Filename follows.
void hand_over_to_transmission(Station& s);

// The per-call set-up: file type, long names, "/32", AUTOPRINT, the directory lists.
void set_up_command(Station& s, CommandParse& p);

// `text` split at commas into at most kMaxDirEntries entries; returns the highest index.
int split_directories(std::string_view text, std::array<std::string, kMaxDirEntries>& dirs);

}  // namespace shoplink
