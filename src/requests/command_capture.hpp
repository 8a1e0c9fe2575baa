#pragma once
// Command capture: finds a complete block in rx_string, learns its code (ASCII or EIA),
// decodes it into rx_line, shows and logs it, and hands it to the interpreter in scanning
// mode. Also answers the Burny CLINK enquiry and the Lynx file-name prompt.
#include <string>

namespace shoplink {

class Station;

// `fresh` is how many characters at the end of rx_string arrived since the last call: only
// those can answer the Burny CLINK enquiry, so a block that waits for its end over several
// polls is not answered again on every poll.
void capture_command(Station& s, std::size_t fresh = std::string::npos);

// One line of the open program file (Openfile) for files without CR line ends: LF ends a
// line; other controls except TAB are dropped; bit 7 is cleared. At the end of the file,
// what was collected so far.
std::string filter_input(Station& s);

}  // namespace shoplink
