#pragma once
// The host line's health: output that the line does not take for a long while (the device
// is gone, refuses writes, or nobody reads it) means the station serves no one, which the
// operator must learn from the status line and the system log, once.
#include <chrono>

namespace shoplink {

class Station;

// How long output may wait on the host line before the line counts as dead.
inline constexpr std::chrono::seconds kHostLineDeadAfter{30};

// One look at the line (with the display refresh, Timer5): reports a dead line once, and
// notes in the log when it takes output again.
void watch_host_line(Station& s);

}  // namespace shoplink
