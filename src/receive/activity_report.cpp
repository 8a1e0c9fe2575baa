#include "receive/activity_report.hpp"

#include <vector>

#include "base/control_chars.hpp"
#include "base/text.hpp"
#include "core/character_output.hpp"
#include "core/station.hpp"
#include "core/station_reports.hpp"
#include "log/system_log.hpp"
#include "transmit/ab_protocol.hpp"
#include "transmit/prepare.hpp"
#include "transmit/reply_output.hpp"
#include "transmit/transfer_controls.hpp"

namespace shoplink {

using namespace ctl;

namespace {

std::string prepared(Station& s, const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += prepare2send(s, l);
  return out;
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
  if (await_ack(s)) {
    const bool sent = send_reply(s, s.reply_buffer[port]);
    report_transfer(s, TransferKind::Reply, "",
                    sent ? TransferResult::Transmitted : TransferResult::HandshakeTimeout,
                    static_cast<double>(s.reply_buffer[port].size()));
  } else if (!transfer_stopped(s)) {  // a stop is no machine's silence
    report_transfer(s, TransferKind::Reply, "", TransferResult::HandshakeTimeout, 0, "no AK");
    log_event(s, 23);
    s.window.set_status("AK not received ..");
  }
  s.reply_buffer[port].clear();
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
