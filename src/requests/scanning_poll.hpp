#pragma once
// The receive poll while the station scans: a machine has spoken on the current port.
#include <string>

namespace shoplink {

class Station;

// `got` holds the characters just read (empty when only a remainder waits in rx_string).
// Answers DC2 and Xon at once, stays on the port, collects the command and runs capture.
void receive_poll_scanning(Station& s, const std::string& got);

}  // namespace shoplink
