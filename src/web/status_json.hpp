#pragma once
// The station's snapshot as JSON: /api/status, and each event of the live stream.
#include <string>

#include "core/station_snapshot.hpp"

namespace shoplink {

// {"sequence":..,"taken":"2026-12-07 06:45:30","started":..,"uptime_s":..,"customer":..,
//  "host_line":"COM1","device":..,"line_state":"open","status":..,"port":3,
//  "ports":[{"port":1,"machine":..,"state":"sending","program":..,"name":"O1234.NC",
//            "done":..,"total":..,"last":{"kind":..,"result":..,"failed":false,
//            "program":..,"name":..,"characters":..,"reason":..,"ended":..}|null}, ...]}
std::string status_json(const StationSnapshot& s);

// Whether a transfer's result is a failure (anything but transmitted or received).
bool failed_result(TransferResult r);
// The port's state as the tiles name it ("idle", "sending" ...), also a CSS class suffix.
std::string state_class(PortActivity a);

}  // namespace shoplink
