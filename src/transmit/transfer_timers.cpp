#include "transmit/transfer_timers.hpp"

#include "base/text.hpp"
#include "core/scan_selection.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "requests/controller_forms.hpp"
#include "transmit/send_file.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

constexpr int kAbXonWaitMs = 3000;
constexpr int kStallAfterXonTimeoutMs = 30000;

// The Xon never came: the machine may not use Xon at all, so the file is sent anyway.
void xon_timed_out(Station& s) {
  if (s.mode != Mode::Sending) {
    // Left running by a reply sent while scanning: there is no transfer to start.
    s.Timer3.stop();
    return;
  }
  s.xoff = 0;
  s.window.set_text(Field::Terminal,
                    "(Xon not received ...)\r\n(sending " + s.Filename + " after timeout)\r\n");
  s.window.set_visible(Element::TerminalScrollBar, false);
  s.window.set_visible(Element::SendNowButton, false);
  log_event(s, 19);
  s.sending = 1;
  s.Timer3.set_interval(kStallAfterXonTimeoutMs);
  s.Timer3.start();
  s.Timer20.start();
}

// The machine stopped taking characters for the whole time-out.
void stalled(Station& s) {
  if (s.Drip == 1) return;  // drip feed: the machine takes its time
  s.Timer3.stop();
  s.send_aborted = 1;
  s.Timer4.set_enabled(true);
  s.window.set_visible(Element::StopButton, false);
  set_transfer_menus(s, true);
  s.window.set_status("CNC won't accept");
  log_handshake_timeout(s);
  s.send_inhibit = 0;
  s.xoff = 0;
  s.platform.beep();
}

// The Lynx control never sends Xon (it waits for "*"): its short wait, set with the request,
// stands.
int xon_wait_ms(const Station& s) {
  if (s.Lynx_request) return kLynxXonWaitMs;
  return contains(s.cur().code_line, "AB") ? kAbXonWaitMs : s.config.response_timeout_ms;
}

}  // namespace

void Timer3_Timer(Station& s) {
  if (s.sending == 0) {
    xon_timed_out(s);
  } else {
    stalled(s);
  }
}

void Timer4_Timer(Station& s) {
  s.Timer4.stop();
  s.Timer3.stop();
  s.mode = Mode::Settling;
  s.files.close(s.Openfile);
  s.sending = 0;
  s.receiving = 0;
  s.line.clear_in_buffer();
  mode_scan_Click(s);
}

void enter_reception(Station& s, bool keep_text) {
  if (!keep_text) s.rx_string.clear();
  s.send_inhibit = 0;
  s.receiving = 1;
  s.sending = 0;
  s.Timer6.set_enabled(true);
  s.mode = Mode::Receiving;
}

void Timer10_Timer(Station& s) {
  s.Timer10.stop();
  switch (s.mode_after_purge) {
    case Mode::Sending:
      s.Timer3.set_interval(xon_wait_ms(s));
      s.send_inhibit = 0;
      s.sending = 0;
      s.receiving = 0;
      s.xoff = 1;  // until the machine's Xon
      s.Timer3.start();
      break;
    case Mode::Receiving:
      enter_reception(s, false);
      break;
    default:
      s.sending = 0;
      s.receiving = 0;
      s.Timer4.set_enabled(true);
      break;
  }
  s.send_inhibit = 0;
  s.mode = s.mode_after_purge;
}

void Timer20_Timer(Station& s) {
  s.Timer20.stop();
  sendfile(s);
}

}  // namespace shoplink
