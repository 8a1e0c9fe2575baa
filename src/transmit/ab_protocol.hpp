#pragma once
// Allen-Bradley ("AB") controls: the program is sent in parts, each part announced by a
// ";(PAT" header and released by the control's acknowledgement (ACK).
#include <string>

namespace shoplink {
class Station;

// The per-program memory of the AB rules.
struct AbState {
  bool etx = false;       // ETX goes out after every line from the ";(@" line on
  bool ack_wait = false;  // the next line waits for the control's ACK
  bool percent = false;   // a "%" line follows the header once the ACK came
  std::string header_line;
};

enum class AbVerdict {
  Send,      // send `line` as a normal line
  Skip,      // the line is dropped (or fully handled); go on with the next one
  EndOfFile  // the file ended where a replacement line was needed
};

// Applies the AB rules to `line` (already unquoted); may read the following line of the
// file, send a header and wait for the control's ACK.
AbVerdict apply_ab_rules(Station& s, AbState& ab, std::string& line);

// The acknowledgement wait of AB controls, shared by transmissions and activity reports:
// up to 20 s (Timer16) for the control's ACK, reading the line one character at a time
// (an ACK already noted in gotAK counts; a stop ends the wait). The receive poll is held
// meanwhile so it cannot take the ACK. After an ACK: gotAK cleared, the receive buffer
// cleared and a 1000 ms pause. True when the ACK came.
bool await_ack(Station& s);

// The transmission's wait: await_ack with the stall time-out held; without an ACK (and
// without a stop) the transfer is aborted (log 23).
bool wait_for_ack(Station& s);

}  // namespace shoplink
