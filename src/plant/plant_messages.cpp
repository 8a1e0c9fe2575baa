#include "plant/plant_messages.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "plant/json_text.hpp"

namespace shoplink {

std::string plant_time(const LocalTime& t) {
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}", t.year, t.month, t.day, t.hour,
                     t.minute, t.second);
}

std::string status_topic(const std::string& topic) {
  return topic + "/status";
}
std::string line_topic(const std::string& topic) {
  return topic + "/line";
}
std::string outbox_topic(const std::string& topic) {
  return topic + "/outbox";
}
std::string port_topic(const std::string& topic, int port, const char* what) {
  return topic + "/port/" + std::to_string(port) + "/" + what;
}

std::string online_payload(const StatusInfo& info) {
  return JsonObject()
      .add("state", "online")
      .add("station", info.station)
      .add("version", info.version)
      .add("started", plant_time(info.started))
      .str();
}

std::string will_payload(const StatusInfo& info) {
  // The broker sends it when the connection ends without a goodbye: killed, crashed, cut off.
  return JsonObject()
      .add("state", "offline")
      .add("station", info.station)
      .add("clean", false)
      .str();
}

std::string stopped_payload(const StatusInfo& info, const LocalTime& at) {
  return JsonObject()
      .add("state", "offline")
      .add("station", info.station)
      .add("started", plant_time(info.started))
      .add("clean", true)
      .add("stopped", plant_time(at))
      .str();
}

std::string event_body(const ActivityRecord& a) {
  return JsonObject()
      .add("port", a.port)
      .add("machine", a.machine)
      .add("event", name_of(a.kind))
      .add("text", a.text)
      .add("time", plant_time(a.time))
      .str();
}

std::string transfer_body(const TransferEnd& t) {
  return JsonObject()
      .add("port", t.start.port)
      .add("machine", t.start.machine)
      .add("program", t.start.program)
      .add("kind", name_of(t.start.kind))
      .add("started", plant_time(t.start.started))
      .add("ended", plant_time(t.ended))
      .add("characters", t.characters)
      .add("result", name_of(t.result))
      .add("reason", t.reason)
      .str();
}

std::string line_body(LineState state, const std::string& detail, const LocalTime& at) {
  return JsonObject()
      .add("state", name_of(state))
      .add("detail", detail)
      .add("time", plant_time(at))
      .str();
}

std::string dropped_body(std::int64_t count, std::int64_t first_seq, std::int64_t last_seq,
                         const std::string& since, const LocalTime& at) {
  // `since` is the journal's "2026-12-10 06:45:30"; the payloads' times have the T.
  std::string t = since;
  std::replace(t.begin(), t.end(), ' ', 'T');
  return JsonObject()
      .add("dropped", count)
      .add("first_seq", first_seq)
      .add("last_seq", last_seq)
      .add("since", t)
      .add("time", plant_time(at))
      .str();
}

std::string port_state_payload(const PortSnapshot& p) {
  JsonObject o;
  o.add("port", p.number)
      .add("machine", p.machine)
      .add("state", name_of(p.activity))
      .add("program", p.program)
      .add("done", p.done)
      .add("total", p.total);
  if (p.total > 0) o.add("percent", std::min(100, static_cast<int>(p.done * 100 / p.total)));
  if (p.last) {
    o.add_raw("last", JsonObject()
                          .add("kind", name_of(p.last->kind))
                          .add("result", name_of(p.last->result))
                          .add("program", p.last->program)
                          .add("characters", p.last->characters)
                          .add("reason", p.last->reason)
                          .add("ended", plant_time(p.last->ended))
                          .str());
  } else {
    o.add_raw("last", "null");
  }
  return o.str();
}

}  // namespace shoplink
