#pragma once
// The lines of the open program file (`Openfile`), one at a time, so that a program of any
// size is sent without being held in memory.
#include <string>

namespace shoplink {
class Station;

// The next line: through the line filter when the file has no usable line ends
// (`Filter_me`), otherwise up to CR LF or LF. False at the end of the file, or when the file
// has been closed (a stop closes it).
bool next_program_line(Station& s, std::string& line);

}  // namespace shoplink
