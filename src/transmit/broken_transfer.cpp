#include "transmit/broken_transfer.hpp"

#include "core/station.hpp"
#include "log/system_log.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

void abort_broken_transfer(Station& s) {
  s.Timer3.stop();
  // Only a running engine (or its pending start) reads and clears the stop; a wait for
  // the Xon has none (a stop left set would silence the next transfer): there the request
  // itself is given up, so that an Xon before the return to scanning starts nothing.
  if (s.sending == 1)
    s.send_aborted = 1;
  else
    s.Filename.clear();
  s.Timer4.set_enabled(true);
  s.window.set_visible(Element::StopButton, false);
  set_transfer_menus(s, true);
  const std::string why =
      s.controller_setup_due ? "Port controller restarted" : "Host line connection interrupted";
  s.window.set_status(why);
  log_text(s, why + " .. File not sent");
  s.send_inhibit = 0;
  s.xoff = 0;
  s.platform.beep();
}

bool transfer_broke(Station& s, int breaks_at_start) {
  if (s.line_breaks() == breaks_at_start) return false;
  if (s.send_aborted != 1) abort_broken_transfer(s);
  return true;
}

}  // namespace shoplink
