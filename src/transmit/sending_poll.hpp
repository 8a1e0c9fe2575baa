#pragma once
// The receive poll's part in a transmission: the wait for the machine's Xon (mode 1) and
// the settling after a request (mode 5).
#include <string>

namespace shoplink {
class Station;

// Mode 1: DC2 is answered with Xon, ACK noted (AB), Xon (or the Lynx prompt) starts the
// transmission, Xoff holds it.
void receive_poll_sending(Station& s, const std::string& got);

// Mode 5: arrivals are discarded and keep the station settling, except that a DC4 while a
// reception is pending starts that reception at once with the text from the DC4 on.
void receive_poll_settling(Station& s, const std::string& got);

// The transmission starts on the machine's Xon.
void start_on_xon(Station& s);

}  // namespace shoplink
