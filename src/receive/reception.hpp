#pragma once
// The reception engine: takes what a machine uploads while `mode` is 2, throttles it,
// decodes it into lines, stores them, and ends the upload when the line falls silent.
#include <cstddef>
#include <string>

namespace shoplink {

class Station;

// Mode 2 of the receive poll (Timer13), with the characters just read (may be empty when
// only `rx_string` holds something).
void receive_poll_receiving(Station& s, const std::string& got);
// Turns `rx_string` into stored lines.
void process_received_data(Station& s);
// The receive time-out (Timer6): the end of the upload.
void timer6_Timer(Station& s);
// The station stops while an upload is open: it ends as aborted, never as received, and
// the old program stays in its place.
void abandon_reception(Station& s);

// Receive-buffer levels of the flow control: stop the sender above, resume below.
inline constexpr std::size_t kRxStopLevel = 2048;
inline constexpr std::size_t kRxResumeLevel = 128;
// The longest upload line held: a longer one is stored in pieces of this length.
inline constexpr std::size_t kMaxUploadLine = 4096;

}  // namespace shoplink
