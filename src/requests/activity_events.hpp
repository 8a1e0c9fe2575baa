#pragma once
// Machine activity events: a cycle begins or finishes, a dimension was probed, a tool change
// stops or resumes the machine. Each appends one dated line to the port's ACTIVITY file
// (at the SABLE CARBON site, the shift file) and is logged; nothing goes back to the machine.
#include <string>

#include "requests/command_parse.hpp"

namespace shoplink {

class Station;

// The command holds an event character (S, F, D; E and C at the SKYLARK site): records the
// event and returns true. Otherwise does nothing and returns false.
bool activity_event(Station& s, CommandParse& p);

// Port number of at least two digits: "03", "12".
std::string port_digits(int port);

}  // namespace shoplink
