#pragma once
// The port controller restarted: it lost power and came back, as the host line's DSR
// shows (a serial line's own DSR, or the device server's modem-state notifications).
// It has forgotten its set-up string and the port it had selected, so a transfer under
// way lost the rest of its program and every port runs at the controller's defaults.
#include <chrono>

namespace shoplink {
class Station;

// While the restarted controller does not answer the probe, it is tried again this often.
inline constexpr std::chrono::seconds kControllerProbeRetry{10};

// The line's comm event: counted at once (Station::line_breaks), so a transfer that ends
// before the next display tick already knows it did not arrive whole.
void controller_restart_seen(Station& s);

// With the display tick (Timer5): ends a transfer or an Xon wait the restart cut short;
// once the station scans again, probes the controller, sends the set-up string and selects
// the port it was on, and logs it.
void watch_controller(Station& s);

}  // namespace shoplink
