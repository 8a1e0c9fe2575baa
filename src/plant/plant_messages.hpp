#pragma once
// The plant publisher's topics and payloads: one JSON object each, times in the station's
// local time as its log and journal keep it ("2026-12-10T06:45:30"). The README shows an
// example of each.
#include <string>

#include "base/clock.hpp"
#include "core/station_events.hpp"
#include "core/station_snapshot.hpp"

namespace shoplink {

// "2026-12-10T06:45:30"
std::string plant_time(const LocalTime& t);

// Under the station's topic.
std::string status_topic(const std::string& topic);
std::string line_topic(const std::string& topic);
std::string outbox_topic(const std::string& topic);
std::string port_topic(const std::string& topic, int port, const char* what);

struct StatusInfo {
  std::string station, version;
  LocalTime started;
};
// "online" (retained), the last will's "offline", and the "offline" of a clean stop.
std::string online_payload(const StatusInfo& info);
std::string will_payload(const StatusInfo& info);
std::string stopped_payload(const StatusInfo& info, const LocalTime& at);

// The bodies of the outbox's messages (their sequence number goes in as they are sent).
std::string event_body(const ActivityRecord& a);
std::string transfer_body(const TransferEnd& t);
std::string line_body(LineState state, const std::string& detail, const LocalTime& at);
std::string dropped_body(std::int64_t count, std::int64_t first_seq, std::int64_t last_seq,
                         const std::string& since, const LocalTime& at);

// A port's retained state; the same picture gives the same text.
std::string port_state_payload(const PortSnapshot& p);

}  // namespace shoplink
