#include "web/status_json.hpp"

#include <fmt/format.h>

#include "journal/journal_file.hpp"
#include "web/web_text.hpp"

namespace shoplink {

bool failed_result(TransferResult r) {
  return r != TransferResult::Transmitted && r != TransferResult::Received;
}

std::string state_class(PortActivity a) {
  switch (a) {
    case PortActivity::Idle:
      return "idle";
    case PortActivity::Command:
      return "command";
    case PortActivity::WaitingXon:
      return "waiting";
    case PortActivity::Sending:
      return "sending";
    case PortActivity::Receiving:
      return "receiving";
    case PortActivity::Held:
      return "held";
    case PortActivity::Failed:
      return "failed";
  }
  return "idle";
}

namespace {

std::string number(double v) {
  return fmt::format("{}", static_cast<long long>(v));
}

std::string last_json(const LastTransfer& l) {
  return fmt::format(
      R"({{"kind":{},"result":{},"failed":{},"program":{},"name":{},"characters":{},"reason":{},"ended":{}}})",
      json(name_of(l.kind)), json(name_of(l.result)), failed_result(l.result) ? "true" : "false",
      json(l.program), json(file_name_of(l.program)), number(l.characters), json(l.reason),
      json(journal_time(l.ended)));
}

}  // namespace

std::string status_json(const StationSnapshot& s) {
  std::string out = fmt::format(
      R"({{"sequence":{},"taken":{},"started":{},"uptime_s":{},"customer":{},"host_line":{},"device":{},"line_state":{},"status":{},"port":{},"ports":[)",
      s.sequence, json(journal_time(s.taken)), json(journal_time(s.started)),
      std::max<std::int64_t>(0, seconds_of(s.taken) - seconds_of(s.started)), json(s.customer),
      json(s.host_line), json(s.device), json(s.line_state), json(s.status), s.port);
  bool first = true;
  for (const PortSnapshot& p : s.ports) {
    if (!first) out += ',';
    first = false;
    out += fmt::format(
        R"({{"port":{},"machine":{},"state":{},"state_text":{},"program":{},"name":{},"done":{},"total":{},"last":{}}})",
        p.number, json(p.machine), json(state_class(p.activity)), json(name_of(p.activity)),
        json(p.program), json(file_name_of(p.program)), number(p.done), number(p.total),
        p.last ? last_json(*p.last) : "null");
  }
  return out + "]}";
}

}  // namespace shoplink
