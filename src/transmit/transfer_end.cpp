#include "transmit/transfer_end.hpp"

#include "base/control_chars.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

// Longest the closing waits for the line to take the last characters of a completed
// program before the transmit buffer is discarded.
constexpr Duration kDrainLimit = millis(2000);

}  // namespace

bool drain_output(Station& s) {
  const TimePoint limit = s.loop.now() + kDrainLimit;
  const Duration step = char_time(s);
  while (s.line.out_buffer_count() > 0 && !transfer_stopped(s) && s.loop.now() < limit)
    s.loop.yield(step);
  return !transfer_stopped(s);
}

void complete_transfer(Station& s) {
  report_transfer_ended(s, TransferResult::Transmitted);
  s.mode = Mode::Settling;
  s.Timer3.stop();
  s.files.close(s.Openfile);
  s.Timer4.set_enabled(true);
  s.window.set_visible(Element::StopButton, false);
  set_transfer_menus(s, true);
  s.window.set_status("File sent...");
  log_event(s, 1);
  s.Filename.clear();
  s.send_inhibit = 0;
  s.xoff = 0;
  s.mode_after_purge = 0;
}

void close_transfer(Station& s, bool completed) {
  if (!completed) s.line.clear_out_buffer();
  s.line.clear_in_buffer();
  sendchar2(s, std::string{ctl::DC4, 'Q'});
  s.send_aborted = 0;
}

}  // namespace shoplink
