#include "station/controller_restart.hpp"

#include <string>

#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "station/port_scan.hpp"
#include "transmit/broken_transfer.hpp"

namespace shoplink {

namespace {

void set_up_again(Station& s) {
  const int port = s.controller_restart_port;
  s.stopscanning = 1;  // the scan tick leaves the line alone meanwhile
  probe_controller(s);
  if (s.loop.quit_requested()) return;
  const bool answered = probe_answered(s.rx_string);
  s.rx_string.clear();
  s.receiving = 0;
  if (answered) {
    s.controller_setup_due = false;
    s.controller_setup_retry_at.reset();
    s.string2send = port_setup_string(s);
    sendchar2(s, s.string2send);
    // The set-up string begins with the attention, which the controller may answer: that
    // answer is not a machine's command.
    collect_controller_answer(s);
    if (s.loop.quit_requested()) return;
    s.rx_string.clear();
    s.receiving = 0;
    sendchar2(s, s.codes.controller_codes[static_cast<std::size_t>(port)]);
    log_text(s, "Port controller set up again after its restart, port " + std::to_string(port) +
                    " selected");
  } else {
    s.controller_setup_retry_at = s.loop.now() + kControllerProbeRetry;
    log_text(s, "Port controller restarted but does not answer the probe - tried again in " +
                    std::to_string(kControllerProbeRetry.count()) + " s");
  }
  s.port = static_cast<std::int16_t>(port);
  s.mode = Mode::Scanning;
  s.stopscanning = 0;
}

}  // namespace

void controller_restart_seen(Station& s) {
  ++s.controller_restarts;
  if (!s.controller_setup_due)
    s.controller_restart_port = s.port >= 1 && s.port <= NumPorts ? s.port : 1;
  s.controller_setup_due = true;
  s.controller_setup_retry_at.reset();
  log_text(s, "Port controller restarted (DSR off and on again)");
}

void watch_controller(Station& s) {
  if (!s.controller_setup_due) return;
  if (s.Timer1.enabled()) {  // the start-up scan is still to come and sets it up
    s.controller_setup_due = false;
    return;
  }
  // What is still to go would reach the machine with a hole in it, or nowhere.
  if (s.mode == Mode::Sending && s.send_aborted != 1 && !s.Timer4.enabled()) {
    abort_broken_transfer(s);
    return;
  }
  // The rest waits until the station scans again (a failed start-up scan never does).
  if (s.mode != Mode::Scanning || s.sending != 0 || s.receiving != 0 || s.stopscanning != 0) return;
  if (s.controller_setup_retry_at && s.loop.now() < *s.controller_setup_retry_at) return;
  set_up_again(s);
}

}  // namespace shoplink
