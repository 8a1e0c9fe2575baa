#pragma once
// The system log: one line per event, stamped with date and time, appended to the log file
// named in DNCDATA and kept under its size limit by dropping the oldest lines.
#include <string>

#include "base/clock.hpp"

namespace shoplink {

class Station;
struct LocalTime;

// Text of message `code` (0..42) from the current state; empty for any other code.
std::string log_message(const Station& s, int code);
// The message padded to 55 columns (or followed by two spaces), then mm-dd-yyyy @ hh:mm:ss.
std::string log_line(const std::string& message, const LocalTime& t);

// Writes entry `code` to the log file and, when it is open, the log viewer. A log that cannot
// be written never stops the station: the first failure is shown on the status line.
void log_event(Station& s, int code);
// An entry with a message of its own, for events that have no message code (the station's
// own troubles, such as a host line that takes no output).
void log_text(Station& s, const std::string& message);

// Used while trimming; in the station directory.
inline constexpr const char* kTempLogFile = "tempfile.log";
// A log that could not be trimmed is tried again after this long (loop time); the entries
// themselves are still written meanwhile.
inline constexpr Duration kLogTrimRetry = std::chrono::minutes(1);
inline constexpr const char* kLogTrimFailedStatus = " SHOPLINK log could not be trimmed ";

}  // namespace shoplink
