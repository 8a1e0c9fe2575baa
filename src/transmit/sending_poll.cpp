#include "transmit/sending_poll.hpp"

#include <algorithm>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "transmit/binary_send.hpp"
#include "transmit/send_file.hpp"
#include "transmit/transfer_controls.hpp"
#include "transmit/transfer_timers.hpp"

namespace shoplink {

namespace {
constexpr int ACK = ctl::ACK, XON = ctl::DC1, DC2 = ctl::DC2, XOFF = ctl::DC3;
}  // namespace

void start_on_xon(Station& s) {
  s.window.set_text(Field::Terminal,
                    "(Xon received ...)\r\n(sending " + s.paths.display(s.Filename) + ")\r\n");
  log_event(s, 18);
  s.window.set_visible(Element::TerminalScrollBar, false);
  s.window.set_visible(Element::SendNowButton, false);
  s.sending = 1;
  s.TX_binary = port_has(s, "BINARY");
  if (s.TX_binary) {
    s.line.set_option_flag(false);  // binary data: every byte passes as it is
    send_binary_file(s);
  } else {
    sendfile(s);
  }
}

void receive_poll_sending(Station& s, const std::string& got) {
  for (unsigned char ch : got) {
    const int c = ch & 127;
    if (c == DC2) {
      sendchar2(s, std::string(1, static_cast<char>(XON)));
    } else if (c == ACK && port_has(s, "AB")) {
      s.gotAK = 1;
    } else if ((c == XON || (c == '>' && s.Lynx_request)) && s.BURNY == 0) {
      s.xoff = 0;
      s.platform.beep();
      if (!s.Filename.empty() && s.sending == 0 && !port_has(s, "/X")) start_on_xon(s);
    } else if (c == XOFF) {
      s.platform.beep();
      s.xoff = 1;
    }
  }
}

void receive_poll_settling(Station& s, const std::string& got) {
  if (got.empty()) return;
  // The DC4 may carry the port's parity bit.
  const auto dc4 = std::find_if(got.begin(), got.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 127) == ctl::DC4;
  });
  if (s.mode_after_purge == Mode::Receiving && dc4 != got.end()) {
    // The upload has begun while the station was still settling: take it at once, so the
    // station is never left settling with no timer to end it. The DC4 is the machine's start
    // signal, not a byte of the program.
    s.Timer10.stop();
    s.rx_string.assign(dc4 + 1, got.end());
    enter_reception(s, true);
    return;
  }
  s.rx_string.clear();
  // Each arrival restarts a settling in progress. The start-up purge also runs in mode 5
  // but with no settling armed: arming one there would end the purge early and let the
  // rest of the purged data be read as commands.
  if (s.Timer10.enabled()) s.Timer10.start();
}

}  // namespace shoplink
