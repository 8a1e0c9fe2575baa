#include "receive/activity_report.hpp"

#include <vector>

#include "core/character_output.hpp"
#include "core/control_chars.hpp"
#include "core/station.hpp"
#include "core/text.hpp"
#include "log/system_log.hpp"
#include "transmit/prepare.hpp"

namespace shoplink {

using namespace ctl;

namespace {
constexpr int kAckWaitMs = 20000;
constexpr int kPauseAfterAckMs = 1000;
// The acknowledgement wait re-checks the line this often; arrivals and timers wake it
// earlier.
constexpr Duration kAckRecheck = millis(10);

std::string prepared(Station& s, const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += prepare2send(s, l);
  return out;
}

// Reads the port one character at a time until an ACK arrives or Timer16 runs out. The
// receive poll is held meanwhile so that the acknowledgement cannot be taken (and thrown
// away) by it.
bool wait_for_ack(Station& s) {
  const bool poll_was_on = s.Timer13.enabled();
  s.Timer13.stop();
  s.Timer16.set_interval(kAckWaitMs);
  s.Timer16.start();
  s.line.set_input_len(1);
  while (s.Timer16.enabled() && s.gotAK != 1) {
    s.loop.yield(kAckRecheck);
    while (s.gotAK != 1 && s.line.is_open() && s.line.in_buffer_count() > 0) {
      const std::string got = s.line.read();
      if (got.empty()) break;
      if ((static_cast<unsigned char>(got[0]) & 127) == 6) {
        s.gotAK = 1;
        s.inputtext += "<AK>";
      }
    }
  }
  s.line.set_input_len(0);
  s.Timer16.stop();
  if (poll_was_on) s.Timer13.start();
  return s.gotAK == 1;
}

void ab_report(Station& s, const std::string& report_name, const std::string& p,
               const LocalTime& now) {
  const std::size_t port = static_cast<std::size_t>(s.port);
  sendchar2(s, prepare2send(s, "%COP,/TY0,PAT" + p));
  s.reply_buffer[port] = prepared(s,
                                  {
                                      "%",
                                      ";(PAT" + p + " DNC report)",
                                      "(Program " + report_name + " received)",
                                      "(File size =" + str(s.char_count) + ")",
                                      "(Date = " + date_text(now) + ")",
                                      "(Time = " + time_text(now) + ")",
                                      "(Last line received: " + s.Last_RX_line + ")",
                                      ";(@ Program end)",
                                  }) +
                         std::string(1, ETX);
  if (wait_for_ack(s)) {
    s.gotAK = 0;
    clear_RX_buffer(s);
    s.Timer16.one_shot_delay(kPauseAfterAckMs);
    s.Timer16.set_interval(kAckWaitMs);
    sendchar(s, s.reply_buffer[port]);
    s.reply_buffer[port].clear();
  } else {
    log_event(s, 23);
    s.window.set_status("AK not received ..");
    s.reply_buffer[port].clear();
  }
}

}  // namespace

std::string reply_value(const PortSettings& p) {
  const std::size_t at = instr(p.code_line, "REPLY=");
  return at ? mid(p.code_line, at + 6, 8) : std::string();
}

void prepare_activity_report(Station& s, const std::string& report_name) {
  const std::string value = reply_value(s.cur());
  const LocalTime now = s.loop.clock().local_now();
  if (contains(s.cur().code_line, "AB")) {
    ab_report(s, report_name, left(value, 3), now);
    return;
  }
  const std::string p =
      (starts_with(value, "O") || starts_with(value, ":")) ? left(value, 5) : std::string();
  s.reply_buffer[static_cast<std::size_t>(s.port)] =
      prepared(s, {
                      "",
                      p,
                      "(SHOPLINK ACTIVITY REPORT)",
                      "(PROGRAM " + report_name + " RECEIVED)",
                      "(FILE SIZE =" + str(s.char_count) + ")",
                      "(DATE = " + date_text(now) + ")",
                      "(TIME = " + time_text(now) + ")",
                      "(LAST LINE RECEIVED: " + s.Last_RX_line + ")",
                      "%",
                  });
  s.Last_RX_line.clear();
}

}  // namespace shoplink
