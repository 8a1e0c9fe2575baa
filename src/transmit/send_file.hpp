#pragma once
// Sending the program named by `Filename` to the machine on the current port.
#include <cstddef>

namespace shoplink {
class Station;

// Opens the file, decides how its lines are read, sends the opening (leader, opening end of
// block, controller openings), locks the transfer menus and runs the transmission engine.
// Returns when the program has been sent, or at once when a stop was requested.
void sendfile(Station& s);

// The first n bytes of a program decide whether it is read through the line filter: no CR
// among them, or a control character other than CR and LF, or any byte above 127.
bool needs_line_filter(const char* bytes, std::size_t n);

}  // namespace shoplink
