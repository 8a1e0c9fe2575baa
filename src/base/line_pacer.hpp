#pragma once
// Output at a serial line's own rate, for devices that cannot say how much of what they
// took is still waiting to go out (a pseudo-terminal, a network device server). There the
// "write only when the transmit buffer is empty" rule would let a whole kernel or socket
// buffer run ahead of a machine's Xoff.
//
// The device is never more than kMaxBurst characters ahead of the line: a writer hands it
// a burst, sleeps until the line has sent it (next_slot) and wakes once a burst instead of
// once a character, and an Xoff still finds at most a burst on its way. A short write (a
// program line's last characters) leaves the rest of the burst to the next write, so the
// next line tops it up at once instead of waking for it. The burst is in characters because a
// machine's buffer is: at any rate an Xoff stops the flow within four characters. Four rather than
// fewer since every wake-up costs the station CPU: at 9600 baud that is 240 a second.
//
// The schedule keeps its own beat: a writer that wakes up to a character late gets a burst
// measured from when the line ran dry, so the average rate stays the line rate; lateness
// beyond that is forgiven rather than made up in a bigger burst, and no burst is ever more
// than kMaxBurst.
#include <cstddef>

#include "base/clock.hpp"

namespace shoplink {

class LinePacer {
 public:
  static constexpr std::size_t kMaxBurst = 4;

  // 10 bits a character (start, 8 data, stop) at `baud`; 0 or less reads as 9600.
  void set_baud(long baud);
  Duration char_time() const { return char_time_; }
  std::size_t burst() const { return kMaxBurst; }

  // How many characters may go to the device now: a burst less what is still on the line.
  std::size_t room(TimePoint now) const;
  // Up to room(now) of `want` characters; they count as sent.
  std::size_t take(TimePoint now, std::size_t want);
  // `n` of the characters last taken did not go after all (the device was full).
  void give_back(std::size_t n) { free_at_ -= char_time_ * static_cast<long>(n); }
  // Characters handed over whose time on the line has not yet passed ("still unsent").
  int on_wire(TimePoint now) const;
  // When the line has sent everything handed to it: the next burst may go.
  TimePoint next_slot() const { return free_at_; }
  void reset() { free_at_ = TimePoint{}; }

 private:
  // Where the next burst's time on the line starts.
  TimePoint burst_start(TimePoint now) const;

  Duration char_time_ = Duration(10'000'000'000LL / 9600);
  TimePoint free_at_{};  // when the line has sent everything handed to it
};

}  // namespace shoplink
