#pragma once
// A transfer during which the way to the machine broke: the host line's connection dropped
// or the port controller restarted (Station::line_breaks). The characters in flight, or the
// controller's selection of the port, went with it, so the rest would reach the machine
// with a hole in it or not at all: the transfer ends as a stall does, and its log says why
// instead of "transmitted".
namespace shoplink {
class Station;

// Ends the transfer under way (or the wait for its machine's Xon) now: back to scanning
// through Timer4, the reason on the status line and in the log.
void abort_broken_transfer(Station& s);

// At a transfer's end: when the line broke since `breaks_at_start` (line_breaks() then),
// the transfer is aborted as above unless it was already; true when it broke.
bool transfer_broke(Station& s, int breaks_at_start);

}  // namespace shoplink
