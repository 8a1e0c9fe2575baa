#include "transmit/ab_protocol.hpp"

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "log/system_log.hpp"
#include "transmit/prepare.hpp"
#include "transmit/program_lines.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

namespace {

using ctl::ACK, ctl::ETX;
constexpr int kAckWaitMs = 20000;
constexpr int kAfterAckPauseMs = 1000;
// How often the wait looks at the line when nothing else wakes it.
constexpr Duration kAckPoll = millis(10);

std::string without_leading_spaces(const std::string& line) {
  const auto first = line.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : line.substr(first);
}

// Numbered program files hold each line in double quotes.
void unquote_numbered(const Station& s, std::string& line) {
  if (s.filetype == 3 && starts_with(line, "\""))
    line = line.size() >= 2 ? line.substr(1, line.size() - 2) : "";
}

void abort_without_ack(Station& s) {
  log_event(s, 23);
  s.window.set_status("AK not received ..");
  s.send_aborted = 1;
  s.Timer4.set_enabled(true);
  s.Timer3.stop();
  s.window.set_visible(Element::StopButton, false);
  set_transfer_menus(s, true);
}

}  // namespace

bool await_ack(Station& s) {
  const bool poll_was_on = s.Timer13.enabled();
  s.Timer13.stop();
  s.Timer16.set_interval(kAckWaitMs);
  s.Timer16.start();
  while (s.Timer16.enabled() && s.gotAK != 1 && !transfer_stopped(s)) {
    s.loop.yield(kAckPoll);
    s.line.set_input_len(1);
    while (s.gotAK != 1 && s.line.is_open() && s.line.in_buffer_count() > 0) {
      const std::string got = s.line.read();
      if (got.empty()) break;
      if ((static_cast<unsigned char>(got[0]) & 127) == ACK) {
        s.gotAK = 1;
        s.inputtext += "<AK>";
      }
    }
    s.line.set_input_len(0);
  }
  s.Timer16.stop();
  if (poll_was_on) s.Timer13.start();
  if (s.gotAK != 1) return false;
  s.gotAK = 0;
  clear_RX_buffer(s);
  s.Timer16.one_shot_delay(kAfterAckPauseMs);
  s.Timer16.set_interval(kAckWaitMs);
  return true;
}

bool wait_for_ack(Station& s) {
  bool acked = false;
  hold_stall_timeout(s, [&] { acked = await_ack(s); });
  if (!acked && !transfer_stopped(s)) abort_without_ack(s);
  return acked;
}

AbVerdict apply_ab_rules(Station& s, AbState& ab, std::string& line) {
  if (line.empty() || line == " ") return AbVerdict::Skip;
  if (!contains(line, ";(@") && !contains(line, ";(PAT")) line = without_leading_spaces(line);
  if (contains(line, ";(@")) ab.etx = true;
  if (line == "@") {
    sendchar2(s, std::string(1, ETX));
    hold_stall_timeout(s, [&] { clear_RX_buffer(s); });
    return AbVerdict::Skip;
  }
  if (contains(ab.header_line, "%*")) hold_stall_timeout(s, [&] { clear_RX_buffer(s); });
  bool file_ended = false;
  if (contains(line, "!") || contains(line, "WAIT FOR AK")) {
    // The marker line itself never goes out; the line after it waits for the ACK.
    ab.ack_wait = true;
    if (next_program_line(s, line)) {
      unquote_numbered(s, line);
    } else {
      line.clear();
      file_ended = true;
    }
  }
  if (const std::size_t p = instr(line, ";(PAT"); p > 0) {
    ab.header_line = line;
    sendchar(s, prepare2send(s, "%COP,/TY0,PAT" + mid(line, p + 5, 3)));
    ab.ack_wait = true;
    ab.percent = true;
  }
  if (ab.ack_wait) {
    wait_for_ack(s);
    ab.ack_wait = false;
  }
  if (ab.percent) {
    ab.percent = false;
    sendchar(s, prepare2send(s, "%"));
  }
  return file_ended ? AbVerdict::EndOfFile : AbVerdict::Send;
}

}  // namespace shoplink
