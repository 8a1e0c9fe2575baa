#include "transmit/transfer_controls.hpp"

#include "base/text.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"

namespace shoplink {

void set_transfer_menus(Station& s, bool enabled) {
  for (Menu m : {Menu::mode_scan, Menu::mode_send, Menu::mode_receive, Menu::mode_terminal,
                 Menu::mode_exit, Menu::conf_password})
    s.window.set_menu_enabled(m, enabled);
}

bool customer_is(const Station& s, std::string_view site) {
  return contains(ucase(s.Customer_name), site);
}

bool port_has(const Station& s, std::string_view word) {
  return contains(s.cur().code_line, word);
}

void hold_stall_timeout(Station& s, const std::function<void()>& wait) {
  const bool armed = s.Timer3.enabled();
  s.Timer3.stop();
  wait();
  if (armed && s.send_aborted != 1) s.Timer3.start();
}

bool transfer_stopped(const Station& s) {
  return s.send_aborted == 1 || s.loop.quit_requested();
}

void abandon_transmission(Station& s) {
  // Running: the Xon came (or its wait ran out) and neither an end nor a stop has begun the
  // way back to scanning.
  if (s.sending != 1 || s.mode != Mode::Sending || s.Timer4.enabled()) return;
  s.send_aborted = 1;
  s.window.set_visible(Element::StopButton, false);
  log_text(s, "SHOPLINK stopping - transmission of " + s.paths.display(s.Filename) + " aborted");
}

void log_handshake_timeout(Station& s) {
  const char* reason = "no Xon";
  if (!s.line.cts()) {
    log_event(s, 2);
    reason = "CTS off";
  } else if (s.xoff == 1) {
    log_event(s, 3);
    reason = "Xoff held";
  } else {
    log_event(s, 4);
  }
  report_transfer_ended(s, TransferResult::HandshakeTimeout, reason);
}

}  // namespace shoplink
