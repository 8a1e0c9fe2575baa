#pragma once
// One call at each point where the station reports outward (core/station_events.hpp): the
// port, machine, time and host path are filled in here from the station, so that a call in
// the protocol code stays one line. The station keeps the transfer under way, so that its end
// knows its beginning, and a transfer during which the way to the machine broke ends as "line
// lost" however it ended.
#include <filesystem>
#include <string>

#include "core/station_events.hpp"

namespace shoplink {

class Station;

// A transfer of `filename` (a station path) on the current port begins. One still open is
// ended first, as stopped.
void report_transfer_began(Station& s, TransferKind kind, const std::string& filename);
// Ends the transfer under way; nothing when none is.
void report_transfer_ended(Station& s, TransferResult result, std::string reason = {});
// A transfer that begins and ends at once (a request for a missing program, a reply).
void report_transfer(Station& s, TransferKind kind, const std::string& filename,
                     TransferResult result, double characters, std::string reason = {});
void report_transfer_progress(Station& s, double characters);
bool transfer_under_way(const Station& s);

// The change an upload (or manual receive) under way makes to `program`.
ProgramChange upload_change(Station& s, const std::filesystem::path& program,
                            const std::filesystem::path& incoming,
                            const std::filesystem::path& previous);

void report_activity(Station& s, ActivityKind kind, std::string text);
void report_line_state(Station& s, LineState state, std::string detail = {});
void report_station_started(Station& s);
// Ends a transfer still under way (the stop cut it off), then reports the stop.
void report_station_stopping(Station& s);

}  // namespace shoplink
