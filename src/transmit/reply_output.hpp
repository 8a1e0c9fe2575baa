#pragma once
// Replies that answer a machine outside any transfer: a prompt, an activity report.
#include <string_view>

namespace shoplink {
class Station;

// Sends `text` under the machine's handshakes, as a program goes. No transfer's stall
// time-out watches a reply, so a hold that never lifts (an Xoff with no Xon, CTS gone) would
// keep the whole station from its other machines: after as long as that time-out the reply
// is given up, reported as a stalled transfer is, and scanning goes on. True once sent.
bool send_reply(Station& s, std::string_view text);

}  // namespace shoplink
