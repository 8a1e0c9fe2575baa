#pragma once
// The port controller start-up scan: opens the host line, probes the controller, sends the
// one set-up string for all ports and hands over to the purge.
#include <cstddef>
#include <string>

namespace shoplink {
class Station;

// The most of the port controller's probe answer that is kept: only its first five
// characters are read. A line that chatters on fills it once and then stops extending the
// wait, so the probe ends however long the chatter lasts.
inline constexpr std::size_t kProbeAnswerLimit = 256;

// Timer1's one tick, 3000 ms after start-up.
void Timer1_Timer(Station& s);
void scan_port_controller(Station& s);
// The one set-up string for all ports, from the ports' baud codes and line settings (the
// scan has read them): attention, each port's block, port 1 selected, end of set-up.
std::string port_setup_string(const Station& s);
// Sends the probe (three spaces and the attention) and waits, yielding, for the answer as
// the start-up scan does: until 1000 ms of silence. The answer is left in rx_string.
void probe_controller(Station& s);
// That wait alone (mode 6): what the controller sends until 1000 ms of silence.
void collect_controller_answer(Station& s);
// The answer holds "*" in its first five characters.
bool probe_answered(const std::string& answer);
// Baud code of the controller for a rate (110 -> 1 ... 9600 -> 8), 0 for any other rate.
int baud_code_for(double rate);
// The "(MACHINE NAME)" of a port's line settings (to the end when unclosed), or empty.
std::string machine_name_of(const std::string& line_settings);

}  // namespace shoplink
