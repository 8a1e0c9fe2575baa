#include "transmit/reply_output.hpp"

#include "core/character_output.hpp"
#include "core/station.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {
// As long as a transfer's stall time-out (the transmission timer's interval).
constexpr Duration kReplyHoldLimit = millis(30000);
}  // namespace

bool send_reply(Station& s, std::string_view text) {
  if (sendchar(s, text, kReplyHoldLimit)) return true;
  // A stop or the end of the program ended it: nothing to report here.
  if (transfer_stopped(s)) return false;
  s.window.set_status("CNC won't accept");
  log_handshake_timeout(s);
  // The hold was this reply's; the machine's next request waits for its own Xon.
  s.xoff = 0;
  s.platform.beep();
  return false;
}

}  // namespace shoplink
