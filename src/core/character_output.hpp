#pragma once
// Character output to the host line, and keeping the port controller's buffers clean.
// `sendchar2` and `sendchar` are the only two ways any part of the station writes to the line.
#include <string_view>

#include "base/clock.hpp"

namespace shoplink {
class Station;

// Raw output: each character as an output operation of its own; no display, no handshake.
void sendchar2(Station& s, std::string_view text);
// Output to the current machine under its handshakes: masking, Xon/Xoff, CTS, one
// character at a time when the transmit buffer is empty (a short burst on a paced line),
// pacing. Yields while it waits. Returns true once all of `text` is on the line; false when a
// stop ended it, or when the machine held the output (Xoff, CTS, inhibit) for `hold_limit`
// with nothing going out. A transfer leaves the limit open: its stall time-out watches it.
bool sendchar(Station& s, std::string_view text, Duration hold_limit = kForever);
// The port's CD= pause after a character: (CD x 100 + 1) steps of 10 microseconds, yielding.
void char_delay_pause(Station& s);
// Waits 4000 ms, discards the receive buffer and clears the controller's buffer.
void clear_RX_buffer(Station& s);
// One step of the start-up purge (Timer9's tick).
void purge_buffers(Station& s);

// Time one character takes on the host line (10 bits at the line's baud).
Duration char_time(const Station& s);

}  // namespace shoplink
