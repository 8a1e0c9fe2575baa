#pragma once
// The station's thread asks the scheduler for short time slices.
//
// A paced line wakes the station every few milliseconds for a few microseconds of work. On a
// busy machine a wake-up that waits for the CPU behind other programs' slices (1-3 ms each on
// Linux, often several in a row) leaves the line idle, and at 9600 baud every millisecond late
// beyond the first character is a millisecond the line loses. Linux (6.12 and later) lets a
// thread ask for a shorter slice, which puts its wake-ups ahead of long-running work; it costs
// the thread nothing it uses, since it never runs long.
namespace shoplink {

// The shortest slice the scheduler grants, in nanoseconds.
constexpr long long kShortSliceNs = 100'000;

// Asks for kShortSliceNs for the calling thread (and the threads it starts), keeping its
// policy and nice value. Returns the slice in force afterwards in nanoseconds, or 0 where the
// system takes no such request (an older kernel, another policy): the thread runs as before.
long long request_short_time_slice();

}  // namespace shoplink
