#pragma once
// Command capture: finds a complete block in rx_string, learns its code (ASCII or EIA),
// decodes it into rx_line, shows and logs it, and hands it to the interpreter in scanning
// mode. Also answers the Burny CLINK enquiry and the Lynx file-name prompt.
#include <string>

namespace shoplink {

class Station;

// The most characters a command may hold before its end of block. A machine that streams
// without line ends sends no command: beyond this, what it sent is discarded (and reported
// once), so the buffer stays bounded however long it goes on.
inline constexpr std::size_t kCommandBufferLimit = 4096;

// `fresh` is how many characters at the end of rx_string arrived since the last call: only
// those can answer the Burny CLINK enquiry, so a block that waits for its end over several
// polls is not answered again on every poll. Characters an earlier call already searched
// for a block end are not searched again, so capture's work stays linear in what arrives.
void capture_command(Station& s, std::size_t fresh = std::string::npos);

// One line of the open program file (Openfile) for files without CR line ends: LF ends a
// line; other controls except TAB are dropped; bit 7 is cleared. At the end of the file,
// what was collected so far.
std::string filter_input(Station& s);

}  // namespace shoplink
