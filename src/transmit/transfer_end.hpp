#pragma once
// How every transmission ends, text or binary: the completion steps after a whole program,
// and the closing steps that follow them or a stop.
namespace shoplink {
class Station;

// The program went out whole: back to scanning in 2000 ms, "File sent...", log 1.
void complete_transfer(Station& s);

// Waits (yielding, at most 2000 ms) until the line has taken every character written, so
// that a program is complete before it is called sent. False when a stop came meanwhile.
bool drain_output(Station& s);

// Also after a stop or a stall: the line is emptied and the controller's buffer of this port
// cleared. Characters still on their way out are discarded only when the transfer was
// stopped: after a complete program they are its end (a device that cannot report them, such
// as a pseudo-terminal, may still hold kilobytes of it).
void close_transfer(Station& s, bool completed);

}  // namespace shoplink
