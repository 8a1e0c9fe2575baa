// The timing design of the station in one place: every timer of the main window with its
// interval at start-up and the handler its tick runs. Which timers run from start-up on is
// decided by `startup`; the others are started by the parts that own them.
#include <array>

#include "core/character_output.hpp"
#include "core/station.hpp"
#include "receive/reception.hpp"
#include "station/controller_restart.hpp"
#include "station/host_line_watch.hpp"
#include "station/line_display.hpp"
#include "station/port_scan.hpp"
#include "station/receive_poll.hpp"
#include "station/scanning_cycle.hpp"
#include "station/startup.hpp"
#include "station/timers.hpp"
#include "transmit/burny_send.hpp"
#include "transmit/transfer_timers.hpp"

namespace shoplink {

namespace {

struct TimerRow {
  Timer Station::*timer;
  const char* name;
  int interval_ms;
  void (*tick)(Station&);
};

// A one-shot delay's tick only stops its timer.
void stop_self(Timer& t) {
  t.stop();
}

const std::array<TimerRow, 22> kTimerTable{{
    // start-up scan, one tick 3000 ms after start-up
    {&Station::Timer1, "Timer1", 3000, Timer1_Timer},
    // scanning cycle tick (or "\Scanrate" line 1)
    {&Station::Timer2, "Timer2", 100, Timer2_Timer},
    // transmission time-out: Xon wait before sending, stall while sending
    {&Station::Timer3, "Timer3", 30000, Timer3_Timer},
    // end-of-transfer clean-up, back to scanning
    {&Station::Timer4, "Timer4", 2000, Timer4_Timer},
    // input display refresh and CTS lamp, always running; also watches the host line and
    // the port controller's restarts
    {&Station::Timer5, "Timer5", 250,
     [](Station& s) {
       Timer5_Timer(s);
       watch_host_line(s);
       watch_controller(s);
       show_line_state(s);
     }},
    // reception time-out
    {&Station::Timer6, "Timer6", 5000, timer6_Timer},
    // shows the power-up message, one tick
    {&Station::Timer7, "Timer7", 300,
     [](Station& s) {
       s.Timer7.stop();
       s.window.show_splash(true);
       s.splash_timer.start();
     }},
    // resumes scanning after a keyboard selection of a port
    {&Station::Timer8, "Timer8", 10000, Timer8_Timer},
    // one purge step per tick after the start-up scan
    {&Station::Timer9, "Timer9", 200, purge_buffers},
    // settling timer: enters the mode named by mode_after_purge
    {&Station::Timer10, "Timer10", 1000, Timer10_Timer},
    // Burny CLINK send delay
    {&Station::Timer11, "Timer11", 1200, Timer11_Timer},
    // probe silence time-out of the start-up scan
    {&Station::Timer12, "Timer12", 1000,
     [](Station& s) {
       s.Timer12.stop();
       s.receiving = 0;
     }},
    // receive poll, dispatch by mode
    {&Station::Timer13, "Timer13", 150, Timer13_Timer},
    // flow-control release after the comm event
    {&Station::Timer14, "Timer14", 1000, Timer14_Timer},
    // one-shot delay (500 ms after Xon, 4000 ms before a buffer clear)
    {&Station::Timer15, "Timer15", 2500, [](Station& s) { stop_self(s.Timer15); }},
    // one-shot delay (acknowledgement wait)
    {&Station::Timer16, "Timer16", 20000, [](Station& s) { stop_self(s.Timer16); }},
    // not used by the station; created so the numbering stays that of the window
    {&Station::Timer17, "Timer17", 10, nullptr},
    // Xoff hold of the scanning cycle (or "\Scanrate" line 2), one-shot delay
    {&Station::Timer18, "Timer18", 100, [](Station& s) { stop_self(s.Timer18); }},
    // pause detector of an upload: stops itself and notes the pause
    {&Station::Timer19, "Timer19", 2000,
     [](Station& s) {
       s.Timer19.stop();
       s.Hadley_pause = true;
     }},
    // one-shot start of the transmission after an Xon time-out
    {&Station::Timer20, "Timer20", 200, Timer20_Timer},
    // the power-up window's own timer: closes the window after 5000 ms
    // the scan tick's hold of the controller's output before a switch (set per host rate)
    {&Station::switch_guard, "switch_guard", 4, [](Station& s) { stop_self(s.switch_guard); }},
    {&Station::splash_timer, "splash", 5000,
     [](Station& s) {
       s.splash_timer.stop();
       s.window.show_splash(false);
     }},
}};

}  // namespace

void create_timers(Station& s) {
  for (const auto& row : kTimerTable) {
    auto tick = row.tick;
    Station* sp = &s;
    auto id = s.loop.add_timer(row.name, millis(row.interval_ms), [tick, sp] {
      if (tick) tick(*sp);
    });
    s.*(row.timer) = Timer(&s.loop, id);
  }
  // The window's one other event source: the serial line's comm event.
  s.line.set_comm_handler([&s](int code) { PDQComm1_OnComm(s, code); });
}

}  // namespace shoplink
